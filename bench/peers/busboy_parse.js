// The multipart parser in-process: busboy fed one request body (a single
// file part of pseudo-random bytes, MiB given) in 64 KiB chunks, the file's
// bytes counted and dropped. Prints the best and median of ROUNDS runs in
// decimal GB/s. Usage: node busboy_parse.js [MiB=256] [ROUNDS=5]
'use strict';
const busboy = require('busboy');
const crypto = require('crypto');

const mib = Number(process.argv[2] || 256);
const rounds = Number(process.argv[3] || 5);
const boundary = '----TorvaneBenchBoundary7MA4YWxkTrZu0gW';
const head = Buffer.from(`--${boundary}\r\nContent-Disposition: form-data; name="f"; filename="big.bin"\r\n` +
                         'Content-Type: application/octet-stream\r\n\r\n');
const tail = Buffer.from(`\r\n--${boundary}--\r\n`);
const data = crypto.randomBytes(mib * 1024 * 1024);
const body = Buffer.concat([head, data, tail]);
const chunk = 64 * 1024;

function once() {
  return new Promise((resolve, reject) => {
    const bb = busboy({ headers: { 'content-type': `multipart/form-data; boundary=${boundary}` },
                        limits: { fileSize: Infinity } });
    let got = 0;
    bb.on('file', (name, stream) => { stream.on('data', (d) => { got += d.length; }); });
    const start = process.hrtime.bigint();
    bb.on('close', () => {
      const seconds = Number(process.hrtime.bigint() - start) / 1e9;
      if (got === data.length) resolve(seconds);
      else reject(new Error(`got ${got} bytes`));
    });
    bb.on('error', reject);
    // Each chunk waits until busboy has taken the one before (as a socket
    // feeding it would), so nothing piles up in its write buffer.
    (async () => {
      for (let at = 0; at < body.length; at += chunk) {
        if (!bb.write(body.subarray(at, at + chunk))) await new Promise((r) => bb.once('drain', r));
      }
      bb.end();
    })().catch(reject);
  });
}

(async () => {
  const rates = [];
  for (let i = 0; i < rounds; i++) {
    const seconds = await once();
    rates.push(body.length / seconds / 1e9);
  }
  rates.sort((a, b) => a - b);
  console.log(`busboy ${require('busboy/package.json').version} node ${process.version}: ` +
              `best ${rates[rates.length - 1].toFixed(2)} GB/s median ${rates[rates.length >> 1].toFixed(2)} GB/s`);
})().catch((e) => { console.error(e); process.exit(1); });

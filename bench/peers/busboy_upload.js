// Upload server for the peer benchmark: Node's http with busboy, every file
// part piped to DIR under its own file name, answering the bytes stored.
// Usage: node busboy_upload.js PORT DIR   (busboy from NODE_PATH)
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');
const busboy = require('busboy');

const [port, dir] = process.argv.slice(2);
http.createServer((req, res) => {
  let bb;
  try {
    bb = busboy({ headers: req.headers, limits: { fileSize: Infinity } });
  } catch (e) {
    res.statusCode = 400;
    res.end(String(e));
    return;
  }
  let total = 0;
  let open = 0;
  let finished = false;
  const done = () => { if (finished && open === 0) res.end(String(total)); };
  bb.on('file', (name, stream, info) => {
    open++;
    const out = fs.createWriteStream(path.join(dir, path.basename(info.filename)));
    stream.on('data', (d) => { total += d.length; });
    stream.pipe(out);
    out.on('finish', () => { open--; done(); });
  });
  bb.on('close', () => { finished = true; done(); });
  bb.on('error', (e) => { res.statusCode = 400; res.end(String(e)); });
  req.pipe(bb);
}).listen(Number(port), '127.0.0.1');

// The demo site's browser script: the upload page (several files by choice or
// drag and drop, a size check before sending, progress with rate and time
// left, cancel) and the confirmation of deletes. Pages work without it, with
// a plain form post and a confirmation page instead.
(function () {
  "use strict";

  // "512 bytes", "3.4 KiB", "12 MiB": the same rule as humanSize in uploads.inc.
  function humanSize(n) {
    n = Number(n);
    if (!(n >= 1024)) return n + (n === 1 ? " byte" : " bytes");
    var units = ["KiB", "MiB", "GiB", "TiB"], i = -1, v = n;
    while (v >= 1024 && i < units.length - 1) { v /= 1024; i++; }
    return (v < 10 ? v.toFixed(1) : String(Math.round(v))) + " " + units[i];
  }

  // "45 s", "3 min 10 s", "1 h 5 min".
  function humanSeconds(s) {
    s = Math.max(0, Math.round(s));
    if (s < 60) return s + " s";
    if (s < 3600) return Math.floor(s / 60) + " min" + (s % 60 ? " " + (s % 60) + " s" : "");
    return Math.floor(s / 3600) + " h" + (Math.floor(s / 60) % 60 ? " " + (Math.floor(s / 60) % 60) + " min" : "");
  }

  // Every form with data-confirm asks before it is sent, then marks itself
  // confirmed (the page shows a confirmation of its own to a post without it).
  function wireConfirmations() {
    var forms = document.querySelectorAll("form[data-confirm]");
    Array.prototype.forEach.call(forms, function (form) {
      form.addEventListener("submit", function (event) {
        if (!window.confirm(form.getAttribute("data-confirm"))) { event.preventDefault(); return; }
        var field = form.querySelector("input[name=confirmed]");
        if (field) field.value = "yes";
      });
    });
  }

  function wireUpload(form) {
    var input = document.getElementById("files");
    var zone = document.getElementById("drop-zone");
    var list = document.getElementById("file-list");
    var button = document.getElementById("send");
    var cancel = document.getElementById("cancel");
    var box = document.getElementById("progress");
    var fill = document.getElementById("progress-fill");
    var text = document.getElementById("progress-text");
    var detail = document.getElementById("progress-file");
    var result = document.getElementById("result");
    var maxFile = Number(form.getAttribute("data-max-file-bytes"));
    var maxTotal = Number(form.getAttribute("data-max-total-bytes"));
    var id = form.getAttribute("data-progress-id");
    var chosen = [];          // the File objects to send, in order
    var xhr = null, timer = null, samples = [], startedAt = 0, polls = 0, last = null;

    // ---- choosing files -----------------------------------------------------
    function add(files) {
      for (var i = 0; i < files.length; i++) chosen.push(files[i]);
      render();
    }

    function problems() {
      var out = [], total = 0;
      chosen.forEach(function (f) {
        total += f.size;
        if (maxFile > 0 && f.size > maxFile)
          out.push("\u201c" + f.name + "\u201d is " + humanSize(f.size) + ", more than the limit of " + humanSize(maxFile) + " per file.");
      });
      if (maxTotal > 0 && total > maxTotal)
        out.push("The files come to " + humanSize(total) + ", more than the limit of " + humanSize(maxTotal) + " for one upload.");
      return out;
    }

    function render() {
      list.innerHTML = "";
      var total = 0;
      chosen.forEach(function (f, i) {
        total += f.size;
        var li = document.createElement("li");
        if (maxFile > 0 && f.size > maxFile) li.className = "too-big";
        var name = document.createElement("span");
        name.className = "file-name";
        name.textContent = f.name;
        var size = document.createElement("span");
        size.className = "file-size";
        size.textContent = humanSize(f.size);
        var remove = document.createElement("button");
        remove.type = "button";
        remove.className = "small";
        remove.textContent = "Remove";
        remove.setAttribute("aria-label", "Remove " + f.name);
        remove.addEventListener("click", function () { chosen.splice(i, 1); render(); });
        li.appendChild(name); li.appendChild(size); li.appendChild(remove);
        list.appendChild(li);
      });
      form.setAttribute("data-chosen", String(chosen.length));
      var summary = document.getElementById("chosen-summary");
      summary.textContent = chosen.length ? chosen.length + (chosen.length === 1 ? " file, " : " files, ") + humanSize(total) : "";
    }

    input.addEventListener("change", function () { add(input.files); input.value = ""; });
    ["dragenter", "dragover"].forEach(function (type) {
      zone.addEventListener(type, function (event) { event.preventDefault(); zone.classList.add("over"); });
    });
    zone.addEventListener("dragleave", function (event) {
      if (!zone.contains(event.relatedTarget)) zone.classList.remove("over");
    });
    zone.addEventListener("drop", function (event) {
      event.preventDefault();
      zone.classList.remove("over");
      if (event.dataTransfer && event.dataTransfer.files) add(event.dataTransfer.files);
    });
    // A file dropped beside the zone must not replace the page.
    window.addEventListener("dragover", function (event) { event.preventDefault(); });
    window.addEventListener("drop", function (event) { event.preventDefault(); });

    // ---- the progress box ---------------------------------------------------
    function state(name, message) {
      box.hidden = false;
      box.className = "progress" + (name ? " " + name : "");
      box.setAttribute("data-state", name || "sending");
      if (message !== undefined) text.textContent = message;
    }

    // Shows one progress record of the server (progress.asp): how much of the
    // body it has read, the rate over the last seconds, and the time left.
    function show(p) {
      if (p && p.unavailable) {
        if (box.getAttribute("data-state") === "sending") text.textContent = "Progress unavailable (the upload goes on)";
        box.setAttribute("data-unavailable", "1");
        return;
      }
      if (!p || p.TotalBytes === undefined || !(p.TotalBytes > 0)) return;
      box.removeAttribute("data-unavailable");
      last = p;
      var now = Date.now();
      samples.push({t: now, b: p.CurrentBytes});
      while (samples.length > 2 && now - samples[0].t > 5000) samples.shift();
      var percent = Math.min(100, Math.floor(100 * p.CurrentBytes / p.TotalBytes));
      fill.style.width = percent + "%";
      box.setAttribute("data-current", p.CurrentBytes);
      box.setAttribute("data-total", p.TotalBytes);
      var line = percent + "% \u00b7 " + humanSize(p.CurrentBytes) + " of " + humanSize(p.TotalBytes);
      var first = samples[0], span = (now - first.t) / 1000;
      if (span >= 0.4 && p.CurrentBytes > first.b) {
        var rate = (p.CurrentBytes - first.b) / span;
        line += " \u00b7 " + humanSize(rate) + "/s";
        if (p.CurrentBytes < p.TotalBytes) line += " \u00b7 about " + humanSeconds((p.TotalBytes - p.CurrentBytes) / rate) + " left";
      }
      if (box.getAttribute("data-state") === "sending") text.textContent = line;
      detail.textContent = p.CurrentFile ? "Receiving \u201c" + p.CurrentFile + "\u201d: " + humanSize(p.CurrentFileBytes) : "";
    }

    function progressUrl() { return "progress.asp?id=" + encodeURIComponent(id); }

    // One poll every 500 ms while the post runs; never two at once.
    function poll() {
      fetch(progressUrl(), {cache: "no-store"})
        .then(function (r) { return r.json(); })
        .then(function (p) { polls++; form.setAttribute("data-polls", polls); if (xhr) show(p); })
        .catch(function () {})
        .then(function () { if (xhr) timer = setTimeout(poll, 500); });
    }

    // The end of one upload, whatever its outcome: the last progress record,
    // then a fresh slot for the next upload from this page.
    function finish(ok) {
      clearTimeout(timer);
      xhr = null;
      cancel.hidden = true;
      var seconds = (Date.now() - startedAt) / 1000;
      return fetch(progressUrl(), {cache: "no-store"})
        .then(function (r) { return r.json(); })
        .then(function (p) {
          polls++;
          form.setAttribute("data-polls", polls);
          if (ok && p && p.TotalBytes > 0) {
            fill.style.width = "100%";
            box.setAttribute("data-current", p.CurrentBytes);
            box.setAttribute("data-total", p.TotalBytes);
            text.textContent = "100% \u00b7 " + humanSize(p.CurrentBytes) + " of " + humanSize(p.TotalBytes) +
                               " \u00b7 uploaded in " + humanSeconds(seconds) +
                               (seconds > 0.5 ? " (" + humanSize(p.CurrentBytes / seconds) + "/s)" : "");
            detail.textContent = "";
          }
        })
        .catch(function () {})
        .then(function () { return fetch("progress.asp?reserve=1", {cache: "no-store"}); })
        .then(function (r) { return r.json(); })
        .then(function (p) { id = p.ID; form.setAttribute("data-progress-id", id); })
        .catch(function () {})
        .then(function () { button.disabled = false; form.setAttribute("data-done", "1"); });
    }

    // The answer of received.asp (or of the host) into the result area.
    function showAnswer(status, html) {
      var doc = new DOMParser().parseFromString(html, "text/html");
      var answer = doc.getElementById("received");
      result.innerHTML = "";
      if (answer) {
        while (answer.firstChild) result.appendChild(document.adoptNode(answer.firstChild));
      } else if (status >= 400) {
        var p = document.createElement("p");
        p.className = "error";
        p.id = "upload-error";
        p.textContent = (doc.body ? doc.body.textContent.trim() : "") || ("The server answered " + status + ".");
        result.appendChild(p);
      }
      var error = result.querySelector("#upload-error");
      return error ? error.textContent : "The server answered " + status + ".";
    }

    form.addEventListener("submit", function (event) {
      event.preventDefault();
      if (xhr) return;
      form.removeAttribute("data-done");
      result.innerHTML = "";
      var wrong = problems();
      if (wrong.length) {
        fill.style.width = "0%";
        state("failed", "Not sent: " + wrong.join(" "));
        detail.textContent = "";
        form.setAttribute("data-done", "1");
        return;
      }
      var body = new FormData(form);
      ["file1", "method", "MaxFileSize", "MaxTotalFileSize"].forEach(function (name) { body.delete(name); });
      // One field per file: a Post takes each file field name once.
      chosen.forEach(function (f, i) { body.append("file" + (i + 1), f, f.name); });
      var action = "received.asp?id=" + encodeURIComponent(id) +
                   "&method=" + encodeURIComponent(document.getElementById("method").value) +
                   "&MaxFileSize=" + encodeURIComponent(document.getElementById("MaxFileSize").value) +
                   "&MaxTotalFileSize=" + encodeURIComponent(document.getElementById("MaxTotalFileSize").value);
      samples = []; last = null; startedAt = Date.now();
      fill.style.width = "0%";
      box.removeAttribute("data-current");
      box.removeAttribute("data-total");
      state("", "Sending\u2026");
      detail.textContent = "";
      button.disabled = true;
      cancel.hidden = false;
      var request = xhr = new XMLHttpRequest();
      request.open("POST", action);
      request.onload = function () {
        var ok = request.status >= 200 && request.status < 300;
        var message = showAnswer(request.status, request.responseText);
        if (ok) {
          state("done");
          chosen = [];
          render();
        } else {
          state("failed", "Upload failed: " + message);
        }
        finish(ok);
      };
      request.onerror = function () {
        state("failed", "Upload failed: the connection ended before the server answered.");
        finish(false);
      };
      request.onabort = function () {
        state("cancelled", "Cancelled. The server keeps nothing of this upload.");
        detail.textContent = "";
        finish(false);
      };
      request.send(body);
      timer = setTimeout(poll, 500);
    });

    cancel.addEventListener("click", function () { if (xhr) xhr.abort(); });
    form.setAttribute("data-ready", "1");
  }

  wireConfirmations();
  var form = document.getElementById("upload-form");
  if (form) wireUpload(form);
})();

<%@ Language="JScript" %>
<!-- #include file="uploads.inc" -->
<%
// The upload form. It reserves a progress slot before the upload starts and
// names it in the form's action, so that received.asp's Post updates that slot
// while this page's script polls progress.asp for it.
var bar = Server.CreateObject("Torvane.ProgressBar");
var progressId = bar.GetID();
// The slot belongs to this visitor's session: progress.asp answers 404 for a
// slot of another session (identifiers are sequential, so anyone could guess one).
Session.SetValue("progress:" + progressId, true);

var message = "";
var method = TV_UPLOAD_MAKEVERSIONS, maxFile = "", maxTotal = "";
try {
  method = wholeNumber(queryText("method"), TV_UPLOAD_MAKEVERSIONS, "The naming method");
  maxFile = String(wholeNumber(queryText("MaxFileSize"), "", "MaxFileSize"));
  maxTotal = String(wholeNumber(queryText("MaxTotalFileSize"), "", "MaxTotalFileSize"));
} catch (e) {
  message = errorText(e);
}

// The action without script: the settings this page was opened with.
var action = "received.asp?id=" + encodeURIComponent(progressId) + "&method=" + method +
             "&MaxFileSize=" + encodeURIComponent(maxFile) + "&MaxTotalFileSize=" + encodeURIComponent(maxTotal);
%>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Upload files</title><link rel="stylesheet" href="style.css"></head>
<body>
<h1>Upload files</h1>
<p>The form is received by <code>received.asp</code> with <code>Post.Upload</code>. While it is sent,
this page asks <code>progress.asp</code> twice a second how far the server has read the post.</p>
<% if (message) { %><p class="error"><%= html(message) %></p><% } %>
<form id="upload-form" method="post" enctype="multipart/form-data" action="<%= html(action) %>"
      data-progress-id="<%= html(progressId) %>">
  <fieldset>
    <legend>Files</legend>
    <p><label for="file1">First file</label> <input type="file" id="file1" name="file1"></p>
    <p><label for="file2">Second file</label> <input type="file" id="file2" name="file2"></p>
    <p><label for="file3">Third file</label> <input type="file" id="file3" name="file3"></p>
  </fieldset>
  <fieldset>
    <legend>Fields</legend>
    <p><label for="title">Title</label> <input id="title" name="title" size="40"></p>
    <p><label for="description">Description</label> <textarea id="description" name="description" rows="3" cols="40"></textarea></p>
    <p><label for="public">Public</label> <input type="checkbox" id="public" name="public" value="yes"></p>
  </fieldset>
  <fieldset>
    <legend>Storage</legend>
    <p><label for="method">Naming method</label> <select id="method" name="method">
<% for (var i = 0; i < UPLOAD_METHODS.length; i++) { var m = UPLOAD_METHODS[i]; %>
      <option value="<%= m[1] %>"<%= m[1] == method ? " selected" : "" %>><%= m[0] %>: <%= html(m[2]) %></option>
<% } %>
    </select></p>
    <p><label for="MaxFileSize">MaxFileSize</label> <input id="MaxFileSize" name="MaxFileSize" value="<%= html(maxFile) %>" size="12" inputmode="numeric" placeholder="no limit"> bytes per file</p>
    <p><label for="MaxTotalFileSize">MaxTotalFileSize</label> <input id="MaxTotalFileSize" name="MaxTotalFileSize" value="<%= html(maxTotal) %>" size="12" inputmode="numeric" placeholder="no limit"> bytes for all files</p>
  </fieldset>
  <p><button type="submit" id="send">Upload</button></p>
</form>

<div id="progress" class="progress" hidden>
  <div class="progress-track"><div id="progress-fill" class="progress-fill"></div></div>
  <p id="progress-text" class="note">Starting...</p>
</div>
<div id="result"></div>
<iframe name="upload-target" id="upload-target" title="upload answer" hidden></iframe>

<p><a href="browse.asp">Browse the uploads</a> &middot; <a href="default.asp">Back to the start page</a></p>

<script>
(function () {
  var form = document.getElementById("upload-form");
  var frame = document.getElementById("upload-target");
  var box = document.getElementById("progress");
  var fill = document.getElementById("progress-fill");
  var text = document.getElementById("progress-text");
  var result = document.getElementById("result");
  var button = document.getElementById("send");
  var id = form.getAttribute("data-progress-id");
  var sending = false, timer = null, polls = 0;

  function field(name) { return encodeURIComponent(document.getElementById(name).value); }

  function show(p) {
    if (!p || p.TotalBytes === undefined) return;
    var percent = p.TotalBytes > 0 ? Math.min(100, Math.floor(100 * p.CurrentBytes / p.TotalBytes)) : 0;
    fill.style.width = percent + "%";
    var line = percent + "% - " + p.CurrentBytes + " of " + p.TotalBytes + " bytes";
    if (p.CurrentFile) line += " - " + p.CurrentFile + " (" + p.CurrentFileBytes + " bytes)";
    if (p.Elapsed > 0) line += " - " + Math.round(p.CurrentBytes / p.Elapsed / 1024) + " KiB/s";
    text.textContent = line;
  }

  // One poll every 500 ms while the post runs; never two at once.
  function poll() {
    fetch("progress.asp?id=" + encodeURIComponent(id), {cache: "no-store"})
      .then(function (r) { return r.json(); })
      .then(function (p) { polls++; form.setAttribute("data-polls", polls); if (sending) show(p); })
      .catch(function () {})
      .then(function () { if (sending) timer = setTimeout(poll, 500); });
  }

  form.addEventListener("submit", function (event) {
    if (sending) { event.preventDefault(); return; }
    sending = true;
    button.disabled = true;
    form.action = "received.asp?id=" + encodeURIComponent(id) + "&method=" + field("method") +
                  "&MaxFileSize=" + field("MaxFileSize") + "&MaxTotalFileSize=" + field("MaxTotalFileSize");
    form.target = "upload-target";
    result.innerHTML = "";
    fill.style.width = "0%";
    text.textContent = "Sending...";
    box.hidden = false;
    timer = setTimeout(poll, 500);
  });

  frame.addEventListener("load", function () {
    if (!sending) return;  // the empty frame's own first load
    sending = false;
    clearTimeout(timer);
    // The last word of the progress page, then the answer in place of the frame.
    fetch("progress.asp?id=" + encodeURIComponent(id), {cache: "no-store"})
      .then(function (r) { return r.json(); }).then(show).catch(function () {});
    var doc = frame.contentDocument;
    var answer = doc && doc.getElementById("received");
    if (answer) {
      result.innerHTML = answer.innerHTML;
    } else {
      // Not the answer of received.asp (a host error page, say): show its text.
      var p = document.createElement("pre");
      p.className = "error";
      p.textContent = doc && doc.body ? doc.body.textContent : "The upload got no answer.";
      result.innerHTML = "";
      result.appendChild(p);
    }
    form.setAttribute("data-done", "1");
    // A fresh slot for the next upload from this page.
    fetch("progress.asp?reserve=1", {cache: "no-store"})
      .then(function (r) { return r.json(); })
      .then(function (p) { id = p.ID; form.setAttribute("data-progress-id", id); })
      .catch(function () {})
      .then(function () { button.disabled = false; });
  });
})();
</script>
</body>
</html>

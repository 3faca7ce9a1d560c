<%@ Language="JScript" %>
<!-- #include file="uploads.inc" -->
<!-- #include file="layout.inc" -->
<%
// The upload form. It reserves a progress slot before the upload starts and
// names it in the address the form posts to, so that received.asp's Post
// updates that slot while this page's script (demo.js) polls progress.asp.
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
pageStart("Upload files", "upload.asp");
%>
<h1>Upload files</h1>
<p class="lead">Send one file or many. <code>Post.Upload</code> in <code>received.asp</code> stores them in the
site's uploads folder while this page shows how far the server has read them.</p>
<% if (message) { %><p class="error"><%= html(message) %></p><% } %>
<form id="upload-form" method="post" enctype="multipart/form-data" action="<%= html(action) %>"
      data-progress-id="<%= html(progressId) %>" data-max-file-bytes="<%= MAX_FILE_BYTES %>"
      data-max-total-bytes="<%= MAX_TOTAL_BYTES %>">
  <div id="drop-zone" class="drop-zone">
    <p class="pick"><label for="files">Choose files</label> or drop them here</p>
    <input type="file" id="files" name="file1" multiple class="visually-hidden">
    <p class="note">Up to <%= html(humanSize(MAX_FILE_BYTES)) %> per file and <%= html(humanSize(MAX_TOTAL_BYTES)) %>
       in all; larger files are refused before anything is sent.</p>
  </div>
  <ul id="file-list" class="file-list" aria-label="Chosen files"></ul>
  <p id="chosen-summary" class="note" aria-live="polite"></p>
  <noscript><p class="note">Without script this form sends one file; choose it above.</p></noscript>

  <div class="field"><label for="title">Title</label><input id="title" name="title" autocomplete="off"></div>
  <div class="field"><label for="description">Description</label><textarea id="description" name="description" rows="3"></textarea></div>
  <div class="field inline"><input type="checkbox" id="public" name="public" value="yes"><label for="public">Public</label></div>

  <details id="options">
    <summary>Storage options</summary>
    <div class="field"><label for="method">When a file of the same name is there</label>
      <select id="method" name="method">
<% for (var i = 0; i < UPLOAD_METHODS.length; i++) { var m = UPLOAD_METHODS[i]; %>
        <option value="<%= m[1] %>" title="<%= m[0] %>"<%= m[1] == method ? " selected" : "" %>><%= html(m[2]) %></option>
<% } %>
      </select></div>
    <div class="field"><label for="MaxFileSize">Server limit per file, in bytes</label>
      <input id="MaxFileSize" name="MaxFileSize" value="<%= html(maxFile) %>" inputmode="numeric" placeholder="<%= MAX_FILE_BYTES %>">
      <p class="note">Sets <code>Post.MaxFileSize</code> (at most the page's limit). The browser does not check it, so
      a smaller value shows how the server refuses a file.</p></div>
    <div class="field"><label for="MaxTotalFileSize">Server limit for all files, in bytes</label>
      <input id="MaxTotalFileSize" name="MaxTotalFileSize" value="<%= html(maxTotal) %>" inputmode="numeric" placeholder="<%= MAX_TOTAL_BYTES %>">
      <p class="note">Sets <code>Post.MaxTotalFileSize</code>.</p></div>
  </details>

  <div class="actions">
    <button type="submit" id="send" class="primary">Upload</button>
    <button type="button" id="cancel" hidden>Cancel</button>
  </div>
</form>

<div id="progress" class="progress" hidden aria-live="polite">
  <div class="progress-track" role="presentation"><div id="progress-fill" class="progress-fill"></div></div>
  <p id="progress-text">Starting&hellip;</p>
  <p id="progress-file" class="note"></p>
</div>
<div id="result"></div>
<script src="demo.js"></script>
<% pageEnd(); %>

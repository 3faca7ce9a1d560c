<%@ Language="JScript" %>
<!-- #include file="uploads.inc" -->
<%
// Receives the form of upload.asp. The settings travel in the query string,
// because a multipart body cannot be read before the upload itself:
//   received.asp?id=PROGRESSID&method=N&MaxFileSize=N&MaxTotalFileSize=N
var failure = "";
var post = null;
var method = TV_UPLOAD_MAKEVERSIONS;
try {
  method = wholeNumber(queryText("method"), TV_UPLOAD_MAKEVERSIONS, "The naming method");
  if (method < TV_UPLOAD_USETEMP || method > TV_UPLOAD_INMEMORY) throw new Error("Unknown naming method " + method);
  var maxFile = wholeNumber(queryText("MaxFileSize"), -1, "MaxFileSize");
  var maxTotal = wholeNumber(queryText("MaxTotalFileSize"), -1, "MaxTotalFileSize");

  // Only a slot that holds a progress record is handed to the Post: a stale or
  // made-up identifier would fail the whole upload.
  var id = queryText("id");
  if (id && !Session("progress:" + id)) id = "";  // another visitor's slot
  if (id) {
    var bar = Server.CreateObject("Torvane.ProgressBar");
    bar.ProgressBarID = id;
    try { bar.TotalBytes; } catch (e) { id = ""; }
  }

  var folder = openUploadFolder();
  post = Server.CreateObject("Torvane.Post");
  post.MaxFileSize = maxFile;
  post.MaxTotalFileSize = maxTotal;
  post.Upload(folder.Path, method, undefined, id ? id : undefined);
} catch (e) {
  failure = errorText(e);
  // Read and drop what is left of the body, so the browser gets this answer
  // rather than a connection closed under its feet: what the Post left, or the
  // whole body when the upload never started.
  try {
    if (post) post.Flush();
    while (Request.BinaryRead(1048576).length > 0) {}
  } catch (ignored) {}
  Response.Status = (e.number == 9011 || e.number == 9012 || (e.number >= 9038 && e.number <= 9041)) ? "413 Payload Too Large" : "400 Bad Request";
}

function methodName(m) {
  for (var i = 0; i < UPLOAD_METHODS.length; i++) if (UPLOAD_METHODS[i][1] == m) return UPLOAD_METHODS[i][0];
  return String(m);
}
%>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Upload received</title><link rel="stylesheet" href="style.css"></head>
<body>
<div id="received">
<% if (failure) { %>
<h1>Upload failed</h1>
<p class="error" id="upload-error"><%= html(failure) %></p>
<p>Nothing of this upload was kept.</p>
<% } else {
  var inputs = post.FormInputs;
%>
<h1>Upload received</h1>
<p>Stored with <code><%= methodName(method) %></code><%= method == TV_UPLOAD_INMEMORY ? "" : " in the site's uploads folder" %>.</p>
<h2>Files</h2>
<table id="stored-files">
<tr><th>Field</th><th>Client name</th><th>Stored as</th><th>Size</th><th>MIME type</th><th>MD5</th></tr>
<%
  var files = 0;
  for (var e = new Enumerator(inputs); !e.atEnd(); e.moveNext()) {
    var input = e.item();
    var f = input.File;
    if (!f) continue;
    var client = String(input.Value);
    if (client == "") continue;  // a file field left empty
    files++;
    var stored, size;
    if (method == TV_UPLOAD_INMEMORY) {
      stored = "<em>in memory only</em>";
      size = "";
    } else {
      var name = String(f.FileName);
      stored = isPlainName(name) ? "<a href=\"" + html(downloadHref(name)) + "\">" + html(name) + "</a>" : html(name);
      size = sizeText(f.Size);
    }
%>
<tr><td><%= html(input.Name) %></td><td><%= html(client) %></td><td class="stored"><%= stored %></td>
<td class="size"><%= size %></td><td><%= html(input.ContentType) %></td><td class="md5"><code><%= html(String(f.MD5).toLowerCase()) %></code></td></tr>
<% } %>
</table>
<% if (files == 0) { %><p class="note">No file was chosen.</p><% } %>
<h2>Fields</h2>
<table id="fields">
<%
  for (var e2 = new Enumerator(inputs); !e2.atEnd(); e2.moveNext()) {
    var field = e2.item();
    if (field.File) continue;
%>
<tr><th><%= html(field.Name) %></th><td><%= html(String(field.Value)) %></td></tr>
<% } %>
</table>
<h2>FormInputs.ToXML()</h2>
<pre id="forminputs-xml"><%= html(inputs.ToXML()) %></pre>
<% } %>
<p><a href="upload.asp" target="_top">Upload more</a> &middot; <a href="browse.asp" target="_top">Browse the uploads</a>
&middot; <a href="default.asp" target="_top">Back to the start page</a></p>
</div>
</body>
</html>

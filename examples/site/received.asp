<%@ Language="JScript" %>
<!-- #include file="uploads.inc" -->
<!-- #include file="layout.inc" -->
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
  // The page's own limits hold whatever the request asks for.
  post.MaxFileSize = pageLimit(maxFile, MAX_FILE_BYTES);
  post.MaxTotalFileSize = pageLimit(maxTotal, MAX_TOTAL_BYTES);
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
%>
<% pageStart(failure ? "Upload failed" : "Upload received", "upload.asp"); %>
<div id="received">
<% if (failure) { %>
<h1>Upload failed</h1>
<p class="error" id="upload-error"><%= html(failure) %></p>
<p>Nothing of this upload was kept.</p>
<% } else {
  var inputs = post.FormInputs;
  var rows = [], fields = [];
  for (var e = new Enumerator(inputs); !e.atEnd(); e.moveNext()) {
    var input = e.item();
    var f = input.File;
    if (!f) { fields.push(input); continue; }
    var client = String(input.Value);
    if (client == "") continue;  // a file field left empty
    rows.push({input: input, file: f, client: client});
  }
%>
<h1>Upload received</h1>
<p class="ok" id="upload-ok"><%= rows.length %> file<%= rows.length == 1 ? "" : "s" %>
<%= method == TV_UPLOAD_INMEMORY ? "checked in memory; nothing was stored" : "stored in the site's uploads folder" %>
(<%= html(methodLabel(method)) %>).</p>
<% if (rows.length == 0) { %><p class="note">No file was chosen.</p><% } else { %>
<table id="stored-files" class="stack">
<thead><tr><th>File</th><th class="size">Size</th><th>Type</th><th>MD5</th></tr></thead>
<tbody>
<% for (var r = 0; r < rows.length; r++) {
     var x = rows[r], f = x.file, stored, size = "";
     if (method == TV_UPLOAD_INMEMORY) {
       stored = html(x.client) + "<span class=\"sub\"><em>in memory only</em></span>";
       size = sizeHtml(f.Size);
     } else {
       var name = String(f.FileName);
       stored = isPlainName(name) ? "<a href=\"" + html(downloadHref(name)) + "\">" + html(name) + "</a>" : html(name);
       if (name != x.client) stored += "<span class=\"sub\">sent as " + html(x.client) + "</span>";
     }
     if (!size) size = sizeHtml(f.Size);
     var declared = String(x.input.ContentType || "");
%>
<tr data-field="<%= html(x.input.Name) %>"><td class="stored" data-label="File"><%= stored %></td>
<td class="size" data-label="Size" data-bytes="<%= Number(f.Size) %>"><%= size %></td>
<td class="type" data-label="Type"><%= html(f.MimeType) %><% if (declared && declared != String(f.MimeType)) { %><span class="sub">sent as <%= html(declared) %></span><% } %></td>
<td class="md5" data-label="MD5"><code><%= html(String(f.MD5).toLowerCase()) %></code></td></tr>
<% } %>
</tbody>
</table>
<% } %>
<% if (fields.length) { %>
<h2>Fields</h2>
<table id="fields" class="pairs">
<% for (var k = 0; k < fields.length; k++) { %>
<tr><th><%= html(fields[k].Name) %></th><td><%= html(String(fields[k].Value)) %></td></tr>
<% } %>
</table>
<% } %>
<details id="details">
<summary>Details: <code>FormInputs.ToXML()</code></summary>
<pre id="forminputs-xml"><%= html(inputs.ToXML()) %></pre>
</details>
<% } %>
<p class="actions"><a class="button primary" href="upload.asp" target="_top">Upload more</a>
<a class="button" href="browse.asp" target="_top">See all files</a></p>
</div>
<% pageEnd(); %>

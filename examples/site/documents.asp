<%@ Language="JScript" %>
<!-- #include file="layout.inc" -->
<!-- #include file="uploads.inc" -->
<%
// Documents kept in a database: an upload goes into a SQLite table through
// File.Import (streamed from the stored upload in 30000-byte chunks), the list
// comes from a Recordset, and a download takes the row's BLOB into memory with
// File.Export and sends it with File.Download.
//   documents.asp                 the list and the upload form
//   documents.asp?action=upload   (POST, multipart) stores the chosen file
//   documents.asp?id=N            sends document N
//   documents.asp?delete=N        (POST) removes document N
// The database lives in the site's ".data" folder, which the host never serves.
var DATA_FOLDER = ".data";
var MAX_BYTES = 256 * 1024 * 1024;

function openDatabase() {
  var dir = Server.CreateObject("Torvane.Directory");
  var path = Server.MapPath("/" + DATA_FOLDER);
  dir.Path = path;
  if (!dir.Exists()) {
    try { dir.Create(path); } catch (e) { if (!dir.Exists()) throw e; }
  }
  var conn = Server.CreateObject("ADODB.Connection");
  conn.Open("sqlite:/" + DATA_FOLDER + "/documents.db");
  conn.Execute("CREATE TABLE IF NOT EXISTS documents (id INTEGER PRIMARY KEY, name VARCHAR(255) NOT NULL, " +
               "content_type VARCHAR(100), size INTEGER, md5 CHAR(32), added DATETIME, data BLOB)");
  return conn;
}

// The one row of a document by its number (a parameter, never SQL text).
function documentRow(conn, id, columns) {
  var cmd = Server.CreateObject("ADODB.Command");
  cmd.ActiveConnection = conn;
  cmd.CommandText = "SELECT " + columns + " FROM documents WHERE id = ?";
  cmd.Parameters.Append(cmd.CreateParameter("id", adInteger, adParamInput, 4, id));
  var rs = Server.CreateObject("ADODB.Recordset");
  rs.Open(cmd, undefined, adOpenStatic, adLockOptimistic);
  return rs;
}

function sendDocument(conn, id) {
  var rs = documentRow(conn, id, "id, name, content_type, added, data");
  if (rs.EOF) {
    Response.Status = "404 Not Found";
    Response.Write("<!DOCTYPE html><p class=\"error\">No document " + html(id) + ".</p>");
    Response.End();
  }
  var file = Server.CreateObject("Torvane.File");
  file.Name = String(rs("name"));
  file.Export(rs("data"), false, true);  // the BLOB into memory
  var name = String(rs("name"));
  var ascii = name.replace(/[^\x20-\x7e]|["\\]/g, "_");
  Response.Clear();
  Response.AddHeader("Content-Disposition", "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" +
                     encodeURIComponent(name).replace(/['()*]/g, function (c) { return "%" + c.charCodeAt(0).toString(16).toUpperCase(); }));
  Response.AddHeader("X-Content-Type-Options", "nosniff");
  file.Download(String(rs("content_type") || "application/octet-stream"), rs("added").Value, true);
}

// Stores the posted file: the upload lands in a temporary file, goes into the
// table with Import, and the temporary file is removed again.
function storeUpload(conn) {
  var post = Server.CreateObject("Torvane.Post");
  post.MaxFileSize = MAX_BYTES;
  var stored = null;
  try {
    post.Upload(openUploadFolder().Path, TV_UPLOAD_USETEMP);
    var input = post.FormInputs("document");
    stored = input.File;
    var client = String(input.Value);
    if (!stored || client == "") throw new Error("No file was chosen.");
    client = client.replace(/^.*[\\\/]/, "");
    var rs = Server.CreateObject("ADODB.Recordset");
    rs.Open("SELECT * FROM documents WHERE id = -1", conn, adOpenKeyset, adLockOptimistic);
    rs.AddNew();
    rs("name").Value = client;
    rs("content_type").Value = String(input.ContentType || "application/octet-stream");
    rs("size").Value = stored.Size;
    rs("md5").Value = String(stored.MD5).toLowerCase();
    rs("added").Value = new Date();
    stored.Import(rs("data"));
    rs.Update();
    return rs("id").Value;
  } finally {
    if (stored && stored.Exists()) stored.Delete();
  }
}

var conn = openDatabase();
var message = "";
var method = String(Request.ServerVariables("REQUEST_METHOD"));
if (queryText("id")) {
  var number = 0;
  try {
    number = wholeNumber(queryText("id"), 0, "The document number");
  } catch (e) {
    Response.Status = "400 Bad Request";
    Response.Write("<!DOCTYPE html><p class=\"error\">" + html(errorText(e)) + "</p>");
    Response.End();
  }
  sendDocument(conn, number);
  Response.End();
}
if (method == "POST" && queryText("action") == "upload") {
  try {
    var id = storeUpload(conn);
    Response.Redirect("documents.asp?stored=" + id);
  } catch (e) {
    message = errorText(e);
    Response.Status = (e.number == 9011 || e.number == 9012) ? "413 Payload Too Large" : "400 Bad Request";
    try { while (Request.BinaryRead(1048576).length > 0) {} } catch (ignored) {}
  }
}
if (method == "POST" && queryText("delete")) {
  var gone = documentRow(conn, wholeNumber(queryText("delete"), 0, "The document number"), "id");
  if (!gone.EOF) gone.Delete();
  Response.Redirect("documents.asp");
}
var list = Server.CreateObject("ADODB.Recordset");
list.Open("SELECT id, name, content_type, size, md5, added FROM documents ORDER BY id", conn);
%>
<% pageStart("Documents", "documents.asp"); %>
<h1>Documents in a database</h1>
<p class="lead">Files stored as BLOBs in a SQLite table: <code>File.Import</code> streams an upload into an
<code>ADODB.Recordset</code>'s field, <code>File.Export</code> takes it back into memory and
<code>File.Download</code> sends it.</p>
<% if (message) { %><p class="error" id="document-error"><%= html(message) %></p><% } %>
<% if (queryText("stored")) { %><p id="document-stored">Stored as document <%= html(queryText("stored")) %>.</p><% } %>
<form method="post" enctype="multipart/form-data" action="documents.asp?action=upload">
  <div class="field"><label for="document">File</label><input type="file" id="document" name="document"></div>
  <div class="actions"><button type="submit" class="primary">Store in the database</button></div>
</form>
<h2><%= list.RecordCount %> document<%= list.RecordCount == 1 ? "" : "s" %></h2>
<table id="documents" class="stack">
<thead><tr><th>#</th><th>Name</th><th>Type</th><th class="size">Size</th><th>MD5</th><th>Added</th><th><span class="visually-hidden">Actions</span></th></tr></thead>
<tbody>
<% while (!list.EOF) { %>
<tr><td data-label="#"><%= list("id") %></td><td data-label="Name"><a href="documents.asp?id=<%= list("id") %>"><%= html(list("name")) %></a></td>
<td data-label="Type"><%= html(list("content_type")) %></td><td class="size" data-label="Size"><%= sizeText(list("size")) %></td>
<td class="md5" data-label="MD5"><code><%= html(list("md5")) %></code></td><td data-label="Added"><%= dateHtml(list("added").Value) %></td>
<td class="row-actions"><form method="post" action="documents.asp?delete=<%= list("id") %>" data-confirm="Delete document <%= list("id") %>? This cannot be undone.">
<button type="submit" class="small danger">Delete</button></form></td></tr>
<% list.MoveNext(); } %>
</tbody>
</table>
<% list.Close(); conn.Close(); %>
<script src="demo.js"></script>
<% pageEnd(); %>

<%@ Language="JScript" %>
<!-- #include file="uploads.inc" -->
<%
// The uploads folder listed with Directory.files, in any SortOrder:
//   browse.asp?sort=N   (N one of the TV_SORT_* values; default TV_SORT_NAME)
var message = "";
var sort = TV_SORT_NAME;
var entries = [];
try {
  sort = wholeNumber(queryText("sort"), TV_SORT_NAME, "The sort order");
  if (sort < TV_SORT_NAME || sort > TV_SORT_NONE) throw new Error("Unknown sort order " + sort);
  var dir = openUploadFolder();
  dir.SortOrder = sort;
  for (var e = new Enumerator(dir.files); !e.atEnd(); e.moveNext()) {
    var f = e.item();
    if (f.IsDirectory()) continue;
    entries.push({name: String(f.FileName), size: f.Size, modified: f.LastModified, extension: String(f.FileExtension),
                  type: String(f.FileType), mime: String(f.MimeType)});
  }
} catch (e) {
  message = errorText(e);
}
%>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Uploaded files</title><link rel="stylesheet" href="style.css"></head>
<body>
<h1>Uploaded files</h1>
<p>The site's uploads folder read through <code>Directory.files</code>, sorted by <code>SortOrder</code>.
Each name downloads the file through <code>File.Download</code> (resumable).</p>
<% if (message) { %><p class="error"><%= html(message) %></p><% } %>
<form method="get" action="browse.asp">
  <p><label for="sort">Sort by</label> <select id="sort" name="sort">
<% for (var i = 0; i < SORT_ORDERS.length; i++) { var s = SORT_ORDERS[i]; %>
    <option value="<%= s[1] %>"<%= s[1] == sort ? " selected" : "" %>><%= s[0] %> (<%= html(s[2]) %>)</option>
<% } %>
  </select> <button type="submit">Sort</button></p>
</form>
<p class="sort-links">Sort by:
<% for (var i = 0; i < SORT_ORDERS.length; i++) { var s = SORT_ORDERS[i]; %>
  <% if (s[1] == sort) { %><strong><%= html(s[2]) %></strong><% } else { %><a href="browse.asp?sort=<%= s[1] %>"><%= html(s[2]) %></a><% } %><%= i < SORT_ORDERS.length - 1 ? " &middot;" : "" %>
<% } %>
</p>
<% if (entries.length == 0 && !message) { %>
<p class="note">No files yet. <a href="upload.asp">Upload some.</a></p>
<% } else if (entries.length > 0) { %>
<table id="listing">
<tr><th>Name</th><th>Size</th><th>Last modified</th><th>Extension</th><th>File type</th><th>MIME type</th></tr>
<% for (var j = 0; j < entries.length; j++) { var x = entries[j]; %>
<tr><td class="name"><% if (isPlainName(x.name)) { %><a href="<%= html(downloadHref(x.name)) %>"><%= html(x.name) %></a><% } else { %><%= html(x.name) %><% } %></td>
<td class="size"><%= x.size %></td><td><%= html(dateText(x.modified)) %></td><td><%= html(x.extension) %></td>
<td><%= html(x.type) %></td><td><%= html(x.mime) %></td></tr>
<% } %>
</table>
<p class="note"><%= entries.length %> file<%= entries.length == 1 ? "" : "s" %>.</p>
<% } %>
<p><a href="upload.asp">Upload files</a> &middot; <a href="default.asp">Back to the start page</a></p>
</body>
</html>

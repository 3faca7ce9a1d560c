<%@ Language="JScript" %>
<!-- #include file="uploads.inc" -->
<!-- #include file="layout.inc" -->
<%
// The uploads folder listed with Directory.files, sorted by any column:
//   browse.asp?sort=N[&dir=desc]   N one of the TV_SORT_* values (default
//                                  TV_SORT_NAME); dir=desc reverses the order
//   POST browse.asp  name=NAME&confirmed=yes   deletes NAME from the folder
// A delete without confirmed=yes (a browser without script) is answered with
// a page that asks first. A POST from another site's page is refused.
var message = "", notice = "", asking = "";
var sort = TV_SORT_NAME, descending = false;
var entries = [];

if (String(Request.ServerVariables("REQUEST_METHOD")) == "POST") {
  refuseCrossSite();
  var victim = String(Request.Form("name") || "");
  if (String(Request.Form("confirmed") || "") != "yes") {
    asking = victim;
  } else {
    try {
      deleteUpload(victim);
      notice = "Deleted \u201c" + victim + "\u201d.";
    } catch (e) {
      Response.Status = "404 Not Found";
      message = e.number !== undefined ? errorText(e) : e.message;
    }
  }
}

try {
  sort = wholeNumber(queryText("sort"), TV_SORT_NAME, "The sort order");
  if (sort < TV_SORT_NAME || sort > TV_SORT_NONE) throw new Error("Unknown sort order " + sort);
  descending = queryText("dir") == "desc" && sort != TV_SORT_NONE;
  var dir = openUploadFolder();
  dir.SortOrder = sort;
  for (var e = new Enumerator(dir.files); !e.atEnd(); e.moveNext()) {
    var f = e.item();
    if (f.IsDirectory()) continue;
    entries.push({name: String(f.FileName), size: f.Size, modified: f.LastModified, extension: String(f.FileExtension),
                  type: String(f.FileType), mime: String(f.MimeType)});
  }
  if (descending) entries.reverse();
} catch (e) {
  message = errorText(e);
}

// The address of this page in one order.
function sortHref(order, desc) {
  return "browse.asp?sort=" + order + (desc ? "&dir=desc" : "");
}

// A column heading that sorts by its order: ascending first, and the other
// way round when the list is already sorted by it.
function heading(order, label, cls) {
  var here = order == sort;
  var arrow = here ? (descending ? " \u2193" : " \u2191") : "";
  var aria = here ? " aria-sort=\"" + (descending ? "descending" : "ascending") + "\"" : "";
  return "<th" + (cls ? " class=\"" + cls + "\"" : "") + aria + "><a href=\"" + html(sortHref(order, here && !descending)) +
         "\" title=\"Sort by " + html(label.toLowerCase()) + (here && !descending ? ", reversed" : "") + "\">" +
         html(label) + arrow + "</a></th>";
}

var total = 0;
for (var t = 0; t < entries.length; t++) total += Number(entries[t].size);
pageStart("Files", "browse.asp");
%>
<h1>Files</h1>
<p class="lead">Everything in the site's uploads folder, read with <code>Directory.files</code>. Downloads go
through <code>File.Download</code>, so an interrupted download can be resumed.</p>
<% if (message) { %><p class="error" id="browse-error"><%= html(message) %></p><% } %>
<% if (notice) { %><p class="ok" id="browse-notice"><%= html(notice) %></p><% } %>
<% if (asking) { %>
<form class="confirm" id="confirm-delete" method="post" action="<%= html(sortHref(sort, descending)) %>">
  <p>Delete <strong><%= html(asking) %></strong> from the uploads folder? This cannot be undone.</p>
  <input type="hidden" name="name" value="<%= html(asking) %>">
  <input type="hidden" name="confirmed" value="yes">
  <div class="actions"><button type="submit" class="danger">Delete</button>
  <a class="button" href="<%= html(sortHref(sort, descending)) %>">Keep it</a></div>
</form>
<% } %>
<% if (entries.length == 0 && !message) { %>
<p class="note" id="empty">No files yet. <a href="upload.asp">Upload some.</a></p>
<% } else if (entries.length > 0) { %>
<p class="summary"><%= entries.length %> file<%= entries.length == 1 ? "" : "s" %>, <%= html(humanSize(total)) %> in all.</p>
<p class="sort-bar" id="sort-bar">Sort by:
<% var choices = [];
   for (var m = 0; m < SORT_ORDERS.length; m++) {
     var o = SORT_ORDERS[m];
     choices.push(o[1] == sort ? "<strong>" + html(o[2]) + "</strong>" : "<a href=\"" + html(sortHref(o[1], false)) + "\">" + html(o[2]) + "</a>");
   }
   if (sort != TV_SORT_NONE)
     choices.push("<a href=\"" + html(sortHref(sort, !descending)) + "\" id=\"reverse\">" + (descending ? "ascending" : "descending") + "</a>"); %>
<%= choices.join(" &middot; ") %></p>
<table id="listing" class="stack">
<thead><tr><%= heading(TV_SORT_NAME, "Name") %><%= heading(TV_SORT_SIZE, "Size", "size") %><%= heading(TV_SORT_MODIFIED, "Modified") %>
<%= heading(TV_SORT_FILETYPE, "Kind") %><%= heading(TV_SORT_MIMETYPE, "MIME type") %><th><span class="visually-hidden">Actions</span></th></tr></thead>
<tbody>
<% for (var j = 0; j < entries.length; j++) { var x = entries[j], plain = isPlainName(x.name); %>
<tr data-name="<%= html(x.name) %>" data-bytes="<%= Number(x.size) %>" data-modified="<%= html(dateText(x.modified)) %>"
    data-extension="<%= html(x.extension) %>" data-type="<%= html(x.type) %>" data-mime="<%= html(x.mime) %>">
<td class="name" data-label="Name"><% if (plain) { %><a href="<%= html(downloadHref(x.name)) %>"><%= html(x.name) %></a><% } else { %><%= html(x.name) %><% } %></td>
<td class="size" data-label="Size"><%= sizeHtml(x.size) %></td>
<td class="modified" data-label="Modified"><%= dateHtml(x.modified) %></td>
<td class="kind" data-label="Kind"><%= html(x.type) %></td>
<td class="mime" data-label="MIME type"><%= html(x.mime) %></td>
<td class="row-actions"><% if (plain) { %><a class="button small" href="<%= html(downloadHref(x.name)) %>" aria-label="Download <%= html(x.name) %>">Download</a>
<form method="post" action="<%= html(sortHref(sort, descending)) %>" data-confirm="Delete &ldquo;<%= html(x.name) %>&rdquo;? This cannot be undone.">
<input type="hidden" name="name" value="<%= html(x.name) %>"><input type="hidden" name="confirmed" value="">
<button type="submit" class="small danger" aria-label="Delete <%= html(x.name) %>">Delete</button></form><% } %></td></tr>
<% } %>
</tbody>
</table>
<% } %>

<script src="demo.js"></script>
<% pageEnd(); %>

<%@ Language="JScript" %><!-- #include file="uploads.inc" --><!-- #include file="layout.inc" --><%
// Sends one file of the uploads folder with File.Download, so a browser (or
// curl -C -, wget -c) can resume it: Last-Modified, ETag, ranges, If-Range.
//   download.asp?name=NAME   NAME a bare file name inside the uploads folder
// No byte is written before Download: it sets the headers itself.
function refuse(status, text) {
  Response.Clear();
  Response.Status = status;
  Response.ContentType = "text/html";
  pageStart("Download", "browse.asp");
  Response.Write("<h1>Download</h1><p class=\"error\">" + html(text) + "</p>" +
                 "<p><a class=\"button\" href=\"browse.asp\">See all files</a></p>");
  pageEnd();
  Response.End();
}

// Content-Disposition for any name: a plain ASCII fallback and the exact name
// in RFC 5987 form.
function disposition(name) {
  var ascii = name.replace(/[^\x20-\x7e]|["\\]/g, "_");
  var exact = encodeURIComponent(name).replace(/['()*]/g, function (c) {
    return "%" + c.charCodeAt(0).toString(16).toUpperCase();
  });
  return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + exact;
}

var name = queryText("name");
if (!isPlainName(name)) refuse("400 Bad Request", "Not a file name of the uploads folder: \"" + name + "\"");

var file = Server.CreateObject("Torvane.File");
try {
  file.Name = uploadFolderPath() + "\\" + name;
} catch (e) {
  refuse("400 Bad Request", errorText(e));
}
if (!file.Exists() || file.IsDirectory()) refuse("404 Not Found", "No file \"" + name + "\" in the uploads folder.");

Response.Clear();
Response.AddHeader("Content-Disposition", disposition(name));
Response.AddHeader("X-Content-Type-Options", "nosniff");
try {
  file.Download(undefined, undefined, true);
} catch (e) {
  // Before any byte of the file went out the visitor gets the reason.
  refuse("500 Internal Server Error", errorText(e));
}
%>
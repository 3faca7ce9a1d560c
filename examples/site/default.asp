<%@ Language="JScript" %>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Torvane demo</title><link rel="stylesheet" href="style.css"></head>
<body>
<h1>Torvane demo site</h1>
<p>These pages are ASP-style JavaScript run by <code>torvane serve</code>. Each one
creates Torvane's objects by ProgID and drives them like a classic upload page.</p>
<h2>What you can do here</h2>
<ul>
  <li><a href="upload.asp">Upload files</a> with a progress bar: several files and fields, a naming
      method and size limits, received by <code>Post.Upload</code>.</li>
  <li><a href="browse.asp">Browse the uploads</a> with <code>Directory.files</code> in every sort order, and
      download them with <code>File.Download</code> (resumable).</li>
  <li><a href="documents.asp">Keep documents in a database</a>: uploads stored as BLOBs in a SQLite table
      with <code>File.Import</code>, listed from an <code>ADODB.Recordset</code>, sent back with
      <code>File.Export</code> and <code>File.Download</code>.</li>
  <li><a href="post.asp">Look at an upload receiver</a>: a <code>Torvane.Post</code> object's
      settings, changed from a form, and its <code>ToXML()</code> rendering.</li>
  <li><a href="request.asp?greeting=hello">See your request</a> as a page sees it: query string,
      headers and server variables.</li>
  <li><a href="visits.asp">Count visits</a> in the application store shared by all pages.</li>
</ul>
<p class="note">Served from <code><%= Server.HTMLEncode(Server.MapPath("/")) %></code>.
Pages in this folder are compiled on first use and again whenever they change.</p>
</body>
</html>

<%@ Language="JScript" %>
<!-- #include file="layout.inc" -->
<% pageStart("Start", "default.asp"); %>
<h1>Torvane demo site</h1>
<p class="lead">File uploads, downloads and file management for pages written in ASP-style JavaScript.
Every page here creates Torvane's objects by name (<code>Server.CreateObject("Torvane.Post")</code>) and is
run by <code>torvane serve</code>.</p>
<ul class="cards">
  <li><strong><a href="upload.asp">Upload files</a></strong> Several files at once, dragged in or chosen, with a
      progress bar, a cancel button and limits checked before anything is sent.</li>
  <li><strong><a href="browse.asp">Files</a></strong> The uploads folder sorted by any column, with resumable
      downloads and deletion.</li>
  <li><strong><a href="documents.asp">Documents</a></strong> Uploads kept as BLOBs in a SQLite table through an
      <code>ADODB.Recordset</code>, and sent back from it.</li>
  <li><strong><a href="post.asp">Post settings</a></strong> An upload receiver's limits and code page, changed
      from a form, with its <code>ToXML()</code> rendering.</li>
  <li><strong><a href="request.asp?greeting=hello">Your request</a></strong> The query string and server
      variables as a page sees them.</li>
  <li><strong><a href="visits.asp">Visits</a></strong> A counter in the application store that all pages
      share.</li>
</ul>
<p class="note">Served from <code><%= Server.HTMLEncode(Server.MapPath("/")) %></code>.
Pages in this folder are compiled on first use and again whenever they change.</p>
<% pageEnd(); %>

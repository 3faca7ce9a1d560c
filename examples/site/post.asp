<%@ Language="JScript" %>
<%
// A Post created the way an upload page creates it: through Server.CreateObject,
// so OnStartPage attaches this page's Request, Response, Server and Application.
var post = Server.CreateObject("Torvane.Post");
var message = "";
try {
  var q = Request.QueryString;
  if (q("MaxFileSize")) post.MaxFileSize = Number(q("MaxFileSize"));
  if (q("MaxTotalFileSize")) post.MaxTotalFileSize = Number(q("MaxTotalFileSize"));
  if (q("CodePage")) post.CodePage = Number(q("CodePage"));
  if (q("CheckMacBinary")) post.CheckMacBinary = q("CheckMacBinary") == "true";
} catch (e) {
  message = "Error " + e.number + ": " + e.description;
}
function row(name) { return "<tr><th>" + name + "</th><td>" + Server.HTMLEncode(String(post[name])) + "</td></tr>"; }
%>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Post settings</title><link rel="stylesheet" href="style.css"></head>
<body>
<h1>A Torvane.Post object</h1>
<% if (message) { %><p class="error"><%= Server.HTMLEncode(message) %></p><% } %>
<table>
<%= row("MaxFileSize") %>
<%= row("MaxTotalFileSize") %>
<%= row("CodePage") %>
<%= row("CheckMacBinary") %>
<%= row("ProgressBarID") %>
</table>
<form method="get" action="post.asp">
  <p><label>MaxFileSize</label> <input name="MaxFileSize" value="<%= post.MaxFileSize %>"></p>
  <p><label>MaxTotalFileSize</label> <input name="MaxTotalFileSize" value="<%= post.MaxTotalFileSize %>"></p>
  <p><label>CodePage</label> <input name="CodePage" value="<%= post.CodePage %>"></p>
  <p><label>CheckMacBinary</label> <select name="CheckMacBinary">
    <option value="true"<%= post.CheckMacBinary ? " selected" : "" %>>True</option>
    <option value="false"<%= post.CheckMacBinary ? "" : " selected" %>>False</option></select></p>
  <p><button type="submit">Apply</button></p>
</form>
<h2>ToXML()</h2>
<pre><%= Server.HTMLEncode(post.ToXML()) %></pre>
<p><a href="default.asp">Back to the start page</a></p>
</body>
</html>

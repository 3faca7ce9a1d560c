<%@ Language="JScript" %>
<!-- #include file="layout.inc" -->
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
<% pageStart("Post settings", "post.asp"); %>
<h1>A Torvane.Post object</h1>
<% if (message) { %><p class="error"><%= Server.HTMLEncode(message) %></p><% } %>
<p class="lead">A receiver created with <code>Server.CreateObject</code>, as an upload page creates it. Change its
settings below; the table and <code>ToXML()</code> show what it holds.</p>
<table class="pairs">
<%= row("MaxFileSize") %>
<%= row("MaxTotalFileSize") %>
<%= row("CodePage") %>
<%= row("CheckMacBinary") %>
<%= row("ProgressBarID") %>
</table>
<form method="get" action="post.asp">
  <fieldset><legend>Settings</legend>
  <div class="field"><label for="MaxFileSize">Largest file, in bytes (-1: no limit)</label>
    <input id="MaxFileSize" name="MaxFileSize" inputmode="numeric" value="<%= post.MaxFileSize %>"></div>
  <div class="field"><label for="MaxTotalFileSize">All files together, in bytes (-1: no limit)</label>
    <input id="MaxTotalFileSize" name="MaxTotalFileSize" inputmode="numeric" value="<%= post.MaxTotalFileSize %>"></div>
  <div class="field"><label for="CodePage">Code page of field values</label>
    <input id="CodePage" name="CodePage" inputmode="numeric" value="<%= post.CodePage %>"></div>
  <div class="field"><label for="CheckMacBinary">Unwrap MacBinary files</label> <select id="CheckMacBinary" name="CheckMacBinary">
    <option value="true"<%= post.CheckMacBinary ? " selected" : "" %>>Yes</option>
    <option value="false"<%= post.CheckMacBinary ? "" : " selected" %>>No</option></select></div>
  <div class="actions"><button type="submit" class="primary">Apply</button></div>
  </fieldset>
</form>
<h2>ToXML()</h2>
<pre class="wrap"><%= Server.HTMLEncode(post.ToXML()) %></pre>
<% pageEnd(); %>

<%@ Language="JScript" %>
<!-- #include file="layout.inc" -->
<%
function rows(collection) {
  var out = "";
  for (var e = new Enumerator(collection); !e.atEnd(); e.moveNext()) {
    var name = e.item();
    out += "<tr><th>" + Server.HTMLEncode(name) + "</th><td>" + Server.HTMLEncode(String(collection(name))) + "</td></tr>";
  }
  return out;
}
var vars = ["REQUEST_METHOD", "PATH_INFO", "QUERY_STRING", "REMOTE_ADDR", "SERVER_NAME", "SERVER_PORT",
            "SERVER_PROTOCOL", "HTTP_USER_AGENT", "HTTP_ACCEPT", "PATH_TRANSLATED"];
%>
<% pageStart("Your request", "request.asp"); %>
<h1>Your request</h1>
<h2>Query string</h2>
<table class="pairs"><%= rows(Request.QueryString) %></table>
<h2>Server variables</h2>
<table class="pairs">
<% for (var i = 0; i < vars.length; i++) { %>
<tr><th><%= vars[i] %></th><td><%= Server.HTMLEncode(String(Request.ServerVariables(vars[i]) || "")) %></td></tr>
<% } %>
</table>
<% pageEnd(); %>

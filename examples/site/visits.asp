<%@ Language="JScript" %>
<!-- #include file="layout.inc" -->
<%
Application.Lock();
var visits = (Application("demo.visits") || 0) + 1;
Application.SetValue("demo.visits", visits);
Application.UnLock();
%>
<% pageStart("Visits", "visits.asp"); %>
<h1>Visits</h1>
<p>This page has been shown <strong><%= visits %></strong> time<%= visits == 1 ? "" : "s" %> since the server started.
Every page of the site shares the count through <code>Application</code>, under its lock.</p>
<p><a href="visits.asp">Count once more</a></p>
<% pageEnd(); %>

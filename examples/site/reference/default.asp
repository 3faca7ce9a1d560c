<%@ Language="JScript" %>
<!-- #include virtual="/layout.inc" -->
<%
// The reference of every class, constant and error. reference.inc is the
// output of "torvane doc --format=html-fragment" (make reference writes it;
// a test fails when it is stale): nothing in it is written by hand.
pageStart("Reference", "reference/", "../");
%>
<!-- #include file="reference.inc" -->
<% pageEnd("../"); %>

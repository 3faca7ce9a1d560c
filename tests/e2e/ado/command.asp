<%@ Language="JScript" %><!-- #include file="check.inc" --><%
var c = connect();
fresh(c, "cmd_t", "id " + KEY + ", name VARCHAR(100), n INTEGER, data " + BIN);
var cmd = Server.CreateObject("ADODB.Command");
cmd.ActiveConnection = c;
cmd.CommandText = "INSERT INTO cmd_t (name, n, data) VALUES (?, ?, ?)";
cmd.Parameters.Append(cmd.CreateParameter("name", adVarWChar, adParamInput, 100, "O'Brien \"quoted\"; DROP TABLE cmd_t; --"));
cmd.Parameters.Append(cmd.CreateParameter("n", adInteger, adParamInput, 4, "12"));
cmd.Parameters.Append(cmd.CreateParameter("data", adLongVarBinary, adParamInput, 5, new Uint8Array([0, 39, 0, 34, 0])));
check("Parameters.Count and lookup by name", cmd.Parameters.Count + " " + cmd.Parameters("N").Value, "3 12");
cmd.Execute();
check("quotes in a parameter arrive unharmed", scalar(c, "SELECT name FROM cmd_t"), "O'Brien \"quoted\"; DROP TABLE cmd_t; --");
check("a parameter's Type converts its value", scalar(c, "SELECT n + 1 FROM cmd_t"), 13);
check("NUL bytes in a binary parameter arrive unharmed", bytesText(scalar(c, "SELECT data FROM cmd_t")), "0,39,0,34,0");
cmd.Parameters("name").Value = "second";
cmd.Parameters(1).Value = 7;
cmd.Execute();
check("a command runs again with new values", scalar(c, "SELECT COUNT(*) FROM cmd_t WHERE name = 'second' AND n = 7"), 1);
cmd.Execute(undefined, ["third", 3, null]);
check("an array passed to Execute replaces the values", scalar(c, "SELECT COUNT(*) FROM cmd_t WHERE name = 'third' AND data IS NULL"), 1);

var q = Server.CreateObject("ADODB.Command");
q.ActiveConnection = c;
q.CommandText = "SELECT name FROM cmd_t WHERE n = ? OR name = ?";
q.Parameters.Append(q.CreateParameter("n", adInteger, adParamInput, 4, 3));
q.Parameters.Append(q.CreateParameter("who", adVarWChar, adParamInput, 100, "x' OR '1'='1"));
var rs = q.Execute();
check("a query command gives its rows (and an injection attempt stays a value)", rs.RecordCount + " " + rs("name"), "1 third");
rs.Close();
rs = Server.CreateObject("ADODB.Recordset");
rs.Open(q, undefined, adOpenStatic, adLockReadOnly);
check("Recordset.Open takes a Command", rs("name"), "third");
rs.Close();
checkError("an unknown parameter", function () { q.Parameters("nope"); }, 9055);
q.Parameters.Delete(1);
checkError("a missing value is refused, not bound as null", function () { q.Execute(); }, 9050, "parameter markers");

var nul = "a\u0000b'c";
if (DB == "sqlite") {
  c.Execute("INSERT INTO cmd_t (name) VALUES (?)", [nul]);
  var back = scalar(c, "SELECT name FROM cmd_t WHERE name = ?", [nul]);
  check("a NUL character in text arrives unharmed", back.length + " " + (back === nul), "5 true");
} else {
  checkError("PostgreSQL says it cannot store a NUL character (the text is never cut)",
             function () { c.Execute("INSERT INTO cmd_t (name) VALUES (?)", [nul]); }, 9050, "0x00");
  check("... and nothing was stored", scalar(c, "SELECT COUNT(*) FROM cmd_t WHERE name LIKE 'a%'"), 0);
}
check("a ? inside a literal is no marker", scalar(c, "SELECT COUNT(*) FROM cmd_t WHERE name <> '?' AND n = ?", [12]), 1);
check("... nor inside a literal with a doubled quote or a comment",
      scalar(c, "SELECT COUNT(*) FROM cmd_t WHERE name <> 'it''s ?' /* ? */ AND n = ? -- ?\n", [12]), 1);
if (DB == "pg") {
  check("... nor inside an E'' literal with an escaped quote", scalar(c, "SELECT COUNT(*) FROM cmd_t WHERE name <> E'it\\'s ?' AND n = ?", [12]), 1);
  check("... nor inside a dollar-quoted literal", scalar(c, "SELECT COUNT(*) FROM cmd_t WHERE name <> $q$?$q$ AND n = ?", [12]), 1);
}
var cmd2 = Server.CreateObject("ADODB.Command");
checkError("a command without a connection", function () { cmd2.CommandText = "SELECT 1"; cmd2.Execute(); }, 9058);
c.Close();
%>END

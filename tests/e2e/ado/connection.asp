<%@ Language="JScript" %><!-- #include file="check.inc" --><%
var c = Server.CreateObject("ADODB.Connection");
check("a new connection is closed", c.State, adStateClosed);
checkError("Execute on a closed connection", function () { c.Execute("SELECT 1"); }, 9052);
checkError("an unknown connection string", function () { c.Open("Driver={SQL Server};Server=x"); }, 9051, "no database");
c.Open(CS);
check("Open makes it open", c.State, adStateOpen);
check("Provider names the back end", c.Provider, DB == "sqlite" ? "SQLite" : "PostgreSQL");
checkError("Open twice", function () { c.Open(CS); }, 9053);
fresh(c, "conn_t", "id " + KEY + ", name VARCHAR(20)");
var rs = c.Execute("INSERT INTO conn_t (name) VALUES ('a')");
check("a statement without rows gives a closed recordset", rs.State, adStateClosed);
rs = c.Execute("SELECT name FROM conn_t");
check("a query gives an open recordset", rs.State + " " + rs("name"), "1 a");
check("several statements run in turn", c.Execute("INSERT INTO conn_t (name) VALUES ('b'); INSERT INTO conn_t (name) VALUES ('c')").State, 0);
check("... and all of them ran", scalar(c, "SELECT COUNT(*) FROM conn_t"), 3);
checkError("a refused statement carries the database's message",
           function () { c.Execute("SELECT * FROM no_such_table"); }, 9050, DB == "sqlite" ? "no such table: no_such_table" : "relation \"no_such_table\" does not exist");
check("Errors holds the failure", c.Errors.Count + " " + c.Errors(0).Source + " " + c.Errors(0).Number, "1 " + c.Provider + " 9050");
check("Errors gives the SQLSTATE where the database has one", c.Errors(0).SQLState, DB == "sqlite" ? "" : "42P01");
checkError("the error's source is the raising object", function () { c.Execute("SELEC 1"); }, 9050, "");
try { c.Execute("SELEC 1"); } catch (e) { check("source", e.source, "ADODB.Connection"); }
checkError("markers without values", function () { c.Execute("SELECT ? + ?", [1]); }, 9050, "2 parameter markers but 1 values");
c.Close();
check("Close closes", c.State, adStateClosed);
c.Close();
check("Close twice is harmless", c.State, 0);
var d = Server.CreateObject("ADODB.Connection");
d.ConnectionString = CS;
d.Open();
check("Open without arguments uses ConnectionString", d.State, 1);
d.Close();
if (DB == "sqlite") {
  var p = Server.CreateObject("ADODB.Connection");
  p.Open("Provider=SQLite;Data Source=" + String(CS).substring(7));
  check("a Provider=SQLite string opens the same file", scalar(p, "SELECT COUNT(*) FROM conn_t"), 3);
  p.Close();
  checkError("a database in a missing folder", function () { var q = Server.CreateObject("ADODB.Connection"); q.Open("sqlite:no/such/folder/x.db"); }, 9050, "unable to open database file");
} else {
  var p = Server.CreateObject("ADODB.Connection");
  var m = /^postgresql:\/\/([^@]+)@([^:]+):(\d+)\/(.*)$/.exec(CS);
  p.Open("Provider=PostgreSQL;Data Source=" + m[2] + ";Port=" + m[3] + ";Initial Catalog=" + m[4] + ";User ID=" + m[1]);
  check("a Provider=PostgreSQL string opens the same database", scalar(p, "SELECT COUNT(*) FROM conn_t"), 3);
  p.Close();
  p.Open("postgresql://" + m[2] + ":" + m[3] + "/" + m[4], m[1], "");
  check("Open's UserID reaches PostgreSQL", scalar(p, "SELECT current_user"), m[1]);
  p.Close();
  checkError("a user the server does not know", function () { p.Open("postgresql://" + m[2] + ":" + m[3] + "/" + m[4], "nobody_here"); },
             9050, "nobody_here");
  checkError("a server that is not there", function () { var q = Server.CreateObject("ADODB.Connection"); q.Open("postgresql://tvtest@127.0.0.1:1/postgres"); }, 9050, "");
}
%>END

<%@ Language="JScript" %><!-- #include file="check.inc" --><%
var c = connect();
fresh(c, "tx_t", "id " + KEY + ", name VARCHAR(20) NOT NULL UNIQUE, data " + BIN);
checkError("CommitTrans without a transaction", function () { c.CommitTrans(); }, 9057);
checkError("RollbackTrans without a transaction", function () { c.RollbackTrans(); }, 9057);
check("BeginTrans gives level 1", c.BeginTrans(), 1);
c.Execute("INSERT INTO tx_t (name) VALUES ('kept')");
c.CommitTrans();
check("CommitTrans keeps", scalar(c, "SELECT COUNT(*) FROM tx_t"), 1);
c.BeginTrans();
c.Execute("INSERT INTO tx_t (name) VALUES ('undone')");
c.RollbackTrans();
check("RollbackTrans undoes", scalar(c, "SELECT COUNT(*) FROM tx_t"), 1);

c.BeginTrans();
check("a nested BeginTrans gives level 2", c.BeginTrans(), 2);
c.Execute("INSERT INTO tx_t (name) VALUES ('inner')");
c.RollbackTrans();
c.Execute("INSERT INTO tx_t (name) VALUES ('outer')");
c.CommitTrans();
check("rolling back the inner level keeps the outer", scalar(c, "SELECT COUNT(*) FROM tx_t WHERE name = 'inner'") + " " + scalar(c, "SELECT COUNT(*) FROM tx_t WHERE name = 'outer'"), "0 1");

// A failed Update inside a transaction changes nothing, and the transaction goes on.
var objects = DB == "pg" ? scalar(c, "SELECT COUNT(*) FROM pg_largeobject_metadata") : 0;
var rs = Server.CreateObject("ADODB.Recordset");
rs.Open("SELECT id, name, data FROM tx_t", c, adOpenKeyset, adLockOptimistic);
c.BeginTrans();
c.Execute("INSERT INTO tx_t (name) VALUES ('before')");
rs.AddNew();
rs("name").Value = "kept";  // a duplicate: the UNIQUE constraint refuses it
for (var i = 0; i < 40; i++) rs("data").AppendChunk(new Uint8Array(30000));
checkError("a failed Update in a transaction", function () { rs.Update(); }, 9050, DB == "sqlite" ? "UNIQUE constraint failed" : "duplicate key");
check("... left no row", scalar(c, "SELECT COUNT(*) FROM tx_t WHERE data IS NOT NULL"), 0);
rs.CancelUpdate();
c.Execute("INSERT INTO tx_t (name) VALUES ('after')");
check("... and the transaction goes on", scalar(c, "SELECT COUNT(*) FROM tx_t WHERE name IN ('before', 'after')"), 2);
c.RollbackTrans();
check("the rollback then undoes the transaction's own work", scalar(c, "SELECT COUNT(*) FROM tx_t"), 2);
if (DB == "pg") check("no large object was left behind", scalar(c, "SELECT COUNT(*) FROM pg_largeobject_metadata"), objects);

c.BeginTrans();
c.Execute("INSERT INTO tx_t (name) VALUES ('open at close')");
c.Close();
c = connect();
check("Close rolls back what is open", scalar(c, "SELECT COUNT(*) FROM tx_t WHERE name = 'open at close'"), 0);
c.Close();
%>END

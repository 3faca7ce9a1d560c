<%@ Language="JScript" %><!-- #include file="check.inc" --><%
// One large file into a field and back out (test_ado.sh measures this
// process's peak memory): data/big.bin -> column -> data/big.out.
var type = String(Request.QueryString("type"));  // BLOB, BYTEA or OID
var c = connect();
fresh(c, "blob_t", "id " + KEY + ", data " + type);
var rs = Server.CreateObject("ADODB.Recordset");
rs.Open("SELECT id, data FROM blob_t", c, adOpenKeyset, adLockOptimistic);
var src = Server.CreateObject("Torvane.File");
src.Name = "data/big.bin";
rs.AddNew();
src.Import(rs("data"));
rs.Update();
rs.Close();
rs.Open("SELECT id, data FROM blob_t", c, adOpenStatic, adLockReadOnly);
var out = Server.CreateObject("Torvane.File");
out.Name = "data/big.out";
out.Export(rs("data"), false);
check("the size in the database", rs("data").ActualSize, src.Size);
check("the MD5 of the file exported back", out.MD5, src.MD5);
rs.Close();
c.Execute("DROP TABLE blob_t");
c.Close();
%>END

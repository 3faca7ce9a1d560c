<%@ Language="JScript" %><!-- #include file="check.inc" --><%
// File.Import, Export and Compare against the fields of both back ends: the
// bytes unchanged, the chunk sizes of a File, in memory and on disk. On
// PostgreSQL the same again with a large object (oid) column.
var c = connect();
var kinds = DB == "pg" ? [["bytea", "BYTEA"], ["large object", "OID"]] : [["blob", "BLOB"]];
var src = Server.CreateObject("Torvane.File");
src.Name = "data/src.bin";  // 700001 bytes written by the test script
for (var k = 0; k < kinds.length; k++) {
  var kind = kinds[k][0];
  fresh(c, "files_t", "id " + KEY + ", name VARCHAR(40), data " + kinds[k][1]);
  var objects = DB == "pg" ? scalar(c, "SELECT COUNT(*) FROM pg_largeobject_metadata") : 0;
  var rs = Server.CreateObject("ADODB.Recordset");
  rs.Open("SELECT * FROM files_t", c, adOpenKeyset, adLockOptimistic);
  rs.AddNew();
  rs("name").Value = "src";
  src.Import(rs("data"));
  rs.Update();
  check(kind + ": Import stores every byte", rs("data").ActualSize, 700001);
  rs.Close();

  rs.Open("SELECT * FROM files_t WHERE name = 'src'", c, adOpenKeyset, adLockOptimistic);
  var out = Server.CreateObject("Torvane.File");
  out.Name = "data/out.bin";
  out.Export(rs("data"), false);
  check(kind + ": Export to disk gives the same bytes", out.Size + " " + out.Compare("data/src.bin") + " " + out.MD5, "700001 true " + src.MD5);
  out.Export(rs("data"), true);
  check(kind + ": Export with Append adds after the old bytes", out.Size, 1400002);
  var mem = Server.CreateObject("Torvane.File");
  mem.Name = "data/never-written.bin";
  mem.Export(rs("data"), false, true);
  check(kind + ": Export in memory", mem.InMemory + " " + mem.MD5, "true " + src.MD5);
  rs.MoveFirst();
  mem.Export(rs("data"), true, true);
  var copy = Server.CreateObject("Torvane.File");
  copy.Name = "data/mem.bin";
  mem.Save("data/mem.bin");
  copy.Name = "data/mem.bin";
  check(kind + ": Export in memory with Append", copy.Size, 1400002);

  // Replace the value from memory (one AppendChunk with everything).
  var small = Server.CreateObject("Torvane.File");
  small.Name = "data/small.bin";
  small.Load();
  rs.MoveFirst();
  small.Import(rs("data"));
  rs.Update();
  rs.Close();
  rs.Open("SELECT * FROM files_t", c, adOpenKeyset, adLockOptimistic);
  check(kind + ": Import from memory replaces the value", bytesText(rs("data").Value), "104,105,0,10");
  if (DB == "pg" && kind == "large object")
    check(kind + ": the replaced large object is gone", scalar(c, "SELECT COUNT(*) FROM pg_largeobject_metadata"), objects + 1);
  rs.Delete();
  if (DB == "pg" && kind == "large object")
    check(kind + ": deleting the row removes its large object", scalar(c, "SELECT COUNT(*) FROM pg_largeobject_metadata"), objects);

  // An empty value and a null one.
  rs.AddNew();
  rs("name").Value = "empty";
  var empty = Server.CreateObject("Torvane.File");
  empty.Name = "data/empty.bin";
  empty.Import(rs("data"));  // no AppendChunk at all: the value stays null
  rs("data").AppendChunk(new Uint8Array(0));
  rs.Update();
  check(kind + ": an empty value", rs("data").ActualSize + " " + (rs("data").Value === null), "0 false");
  empty.Export(rs("data"), false);
  check(kind + ": Export of an empty value writes an empty file", empty.Size + " " + empty.Exists(), "0 true");
  rs("data").Value = null;
  rs.Update();
  checkError(kind + ": Export in memory of a null value", function () { empty.Export(rs("data"), false, true); }, 94);
  rs.Close();
}
checkError("Compare with a missing file", function () { src.Compare("data/none.bin"); }, 9027);
c.Close();
%>END

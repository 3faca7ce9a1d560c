<%@ Language="JScript" %><!-- #include file="check.inc" --><%
var c = connect();
fresh(c, "fld_t", "id " + KEY + ", title VARCHAR(30), body TEXT, n INTEGER, x DOUBLE PRECISION, at " + STAMP + ", data " + BIN);
c.Execute("INSERT INTO fld_t (title, body, n, x, at, data) VALUES (?, ?, ?, ?, ?, ?)",
          ["héllo", "abcdef", 42, 2.5, new Date(2024, 0, 2, 3, 4, 5), new Uint8Array([0, 1, 2, 3, 4, 5, 6, 7, 8, 9])]);
c.Execute("INSERT INTO fld_t (title) VALUES ('empty')");
var rs = Server.CreateObject("ADODB.Recordset");
rs.Open("SELECT id, title, body, n, x, at, data FROM fld_t ORDER BY id", c, adOpenStatic, adLockOptimistic);
check("Type of each column", [rs("title").Type, rs("body").Type, rs("x").Type, rs("at").Type, rs("data").Type].join(","),
      [adVarWChar, adLongVarWChar, adDouble, adDBTimeStamp, adLongVarBinary].join(","));
check("an integer column is a whole number type", rs("n").Type == adInteger || rs("n").Type == adBigInt, true);
check("DefinedSize of VARCHAR(30)", rs("title").DefinedSize, 30);
check("values", rs("title") + "|" + rs("n") + "|" + rs("x") + "|" + rs("body"), "héllo|42|2.5|abcdef");
check("a date comes back as a Date", rs("at").Value instanceof Date && rs("at").Value.getFullYear() == 2024 && rs("at").Value.getSeconds() == 5, true);
check("ActualSize of binary and text", rs("data").ActualSize + " " + rs("title").ActualSize, "10 5");
check("Value of binary is a byte array", bytesText(rs("data").Value), "0,1,2,3,4,5,6,7,8,9");
check("GetChunk walks the bytes", bytesText(rs("data").GetChunk(4)) + "|" + bytesText(rs("data").GetChunk(4)) + "|" + bytesText(rs("data").GetChunk(4)), "0,1,2,3|4,5,6,7|8,9");
check("GetChunk past the end is null", rs("data").GetChunk(4), null);
check("GetChunk of text gives characters", rs("title").GetChunk(2) + "|" + rs("title").GetChunk(10) + "|" + rs("title").GetChunk(1), "hé|llo|null");
rs.MoveNext();
check("a null value", rs("data").Value + " " + rs("data").ActualSize + " " + rs("data").GetChunk(10), "null 0 null");
rs.MoveFirst();
check("moving starts GetChunk again", bytesText(rs("data").GetChunk(2)), "0,1");
rs("data").AppendChunk(new Uint8Array([7, 7]));
rs("data").AppendChunk(new Uint8Array([0, 8]));
check("the first AppendChunk replaces, the next add", bytesText(rs("data").Value) + " " + rs("data").ActualSize, "7,7,0,8 4");
rs("body").AppendChunk("one ");
rs("body").AppendChunk("two");
rs.Update();
check("appended values are stored", bytesText(scalar(c, "SELECT data FROM fld_t WHERE title = 'héllo'")) + " " + scalar(c, "SELECT body FROM fld_t WHERE title = 'héllo'"), "7,7,0,8 one two");
rs("data").AppendChunk("AB");
rs.Update();
check("text appended to binary is UTF-16LE", bytesText(scalar(c, "SELECT data FROM fld_t WHERE title = 'héllo'")), "65,0,66,0");
rs("data").Value = null;
rs.Update();
check("a value set to null", scalar(c, "SELECT COUNT(*) FROM fld_t WHERE data IS NULL"), 2);
check("the Field's attributes mark long and updatable columns", (rs("data").Attributes & 0x80) + " " + (rs("title").Attributes & 0x4), "128 4");
rs.Close();
c.Close();
%>END

<%@ Language="JScript" %><%
// The progress record of one upload as JSON, never cached:
//   progress.asp?id=TVPROGRESSBAR7  -> {"ID": ..., "TotalBytes": ..., "CurrentBytes": ..., "CurrentFile": ...,
//                                      "CurrentFileBytes": ..., "TotalFileBytes": ..., "TimerStart": ...,
//                                      "Elapsed": seconds since TimerStart by the server's clock}
//   progress.asp?reserve=1          -> {"ID": a newly reserved slot} (for the next upload of a form page)
// An identifier that names no record, or a slot this visitor's session did not
// reserve, answers 404 with {"error": ...}. While the state store cannot be
// reached (state_store = redis://... and Redis is down) it answers 503 with
// {"unavailable": true, "error": ...}; the upload itself goes on.
Response.ContentType = "application/json";
Response.CacheControl = "no-store, no-cache, must-revalidate";
Response.AddHeader("Pragma", "no-cache");
Response.AddHeader("Expires", "0");

var STATE_STORE_UNAVAILABLE = -2147023665;  // 0x800704CF
var bar = Server.CreateObject("Torvane.ProgressBar");
var answer;
if (String(Request.QueryString("reserve") || "") != "") {
  answer = {ID: bar.GetID()};
  Session.SetValue("progress:" + answer.ID, true);
} else {
  var id = String(Request.QueryString("id") || "");
  try {
    if (!Session("progress:" + id)) throw {number: 404, description: "not a slot of this session"};
    bar.ProgressBarID = id;
    answer = {
      ID: id,
      TotalBytes: bar.TotalBytes,
      CurrentBytes: bar.CurrentBytes,
      CurrentFile: bar.CurrentFile,
      CurrentFileBytes: bar.CurrentFileBytes,
      TotalFileBytes: bar.TotalFileBytes,
      TimerStart: bar.TimerStart
    };
    var now = new Date();
    var seconds = now.getHours() * 3600 + now.getMinutes() * 60 + now.getSeconds();
    // TimerStart is rounded to the nearest second and wraps at midnight.
    var elapsed = seconds - answer.TimerStart;
    if (elapsed < -43200) elapsed += 86400;
    answer.Elapsed = answer.TimerStart && elapsed > 0 ? elapsed : 0;
  } catch (e) {
    if (e.number == STATE_STORE_UNAVAILABLE) {
      // The state store (Redis) cannot be reached: the upload goes on, its
      // progress cannot be read until the store answers again.
      Response.Status = "503 Service Unavailable";
      answer = {ID: id, unavailable: true, error: "Progress is unavailable: " + e.description};
    } else {
      Response.Status = "404 Not Found";
      answer = {ID: id, error: "No progress record under this identifier (" + e.number + " " + e.description + ")"};
    }
  }
}
Response.Write(JSON.stringify(answer));
%>
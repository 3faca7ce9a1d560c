<?php
// Page helpers shared by the site's pages: escaping, formatting, a few
// lookup tables and the pager. Included at the top of every page.

const SITE_NAME = "Example Shop";
const SITE_LANG = "en";
const PAGE_SIZE = 20;
const MAX_PAGES_SHOWN = 7;
const CURRENCY = "EUR";
const SUPPORT_MAIL = "support@example.com";

// File kinds by extension, for icons and download headers.
const MIME_TYPES = [
  "txt" => "text/plain",
  "htm" => "text/html",
  "html" => "text/html",
  "css" => "text/css",
  "js" => "application/javascript",
  "json" => "application/json",
  "xml" => "application/xml",
  "csv" => "text/csv",
  "pdf" => "application/pdf",
  "zip" => "application/zip",
  "gz" => "application/gzip",
  "png" => "image/png",
  "jpg" => "image/jpeg",
  "jpeg" => "image/jpeg",
  "gif" => "image/gif",
  "svg" => "image/svg+xml",
  "webp" => "image/webp",
  "mp3" => "audio/mpeg",
  "mp4" => "video/mp4",
  "doc" => "application/msword",
  "xls" => "application/vnd.ms-excel",
];

// Order states as stored in the database, with their labels.
const ORDER_STATES = [
  0 => "New",
  1 => "Paid",
  2 => "Packed",
  3 => "Shipped",
  4 => "Delivered",
  5 => "Returned",
  6 => "Cancelled",
];

const MONTH_NAMES = ["January", "February", "March", "April", "May", "June", "July",
                     "August", "September", "October", "November", "December"];
const DAY_NAMES = ["Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"];
const SIZE_UNITS = ["bytes", "KB", "MB", "GB", "TB"];

// Escapes text for HTML content and attribute values.
function html_escape($text) {
  if ($text === null) return "";
  return str_replace(["&", "<", ">", "\"", "'"],
                     ["&amp;", "&lt;", "&gt;", "&quot;", "&#39;"], (string)$text);
}

// Escapes text for a JavaScript string literal inside a page.
function js_escape($text) {
  return str_replace(["\\", "\"", "\r", "\n", "<"],
                     ["\\\\", "\\\"", "\\r", "\\n", "\\u003c"], (string)$text);
}

// Removes spaces at both ends.
function trim_text($text) {
  return preg_replace('/^\s+|\s+$/u', '', (string)$text);
}

// Cuts text to `max` characters, ending with an ellipsis when cut.
function truncate($text, $max) {
  $text = (string)$text;
  if (mb_strlen($text) <= $max) return $text;
  return mb_substr($text, 0, $max - 1) . "\u{2026}";
}

// "1 item", "3 items".
function plural($count, $one, $many) {
  return $count . " " . ($count == 1 ? $one : $many);
}

// Left-pads a number with zeros to `width` digits.
function pad($n, $width) {
  $s = (string)$n;
  while (strlen($s) < $width) $s = "0" . $s;
  return $s;
}

// A byte count the way people read it: "12.5 MB".
function format_size($bytes) {
  $unit = 0;
  $value = (float)$bytes;
  while ($value >= 1024 && $unit < count(SIZE_UNITS) - 1) {
    $value /= 1024;
    $unit++;
  }
  return ($unit == 0 ? (string)$value : number_format($value, 1, ".", "")) . " " . SIZE_UNITS[$unit];
}

// A price in cents as "1,234.50".
function format_money($cents) {
  $whole = intdiv(abs($cents), 100);
  $frac = pad(abs($cents) % 100, 2);
  $digits = (string)$whole;
  $out = "";
  while (strlen($digits) > 3) {
    $out = "," . substr($digits, -3) . $out;
    $digits = substr($digits, 0, -3);
  }
  return ($cents < 0 ? "-" : "") . $digits . $out . "." . $frac;
}

// "Monday, 7 March 2026".
function format_date($t) {
  return DAY_NAMES[(int)date("w", $t)] . ", " . date("j", $t) . " " . MONTH_NAMES[(int)date("n", $t) - 1] . " " .
         date("Y", $t);
}

// "2026-03-07 14:05".
function format_stamp($t) {
  return date("Y", $t) . "-" . pad((int)date("n", $t), 2) . "-" . pad((int)date("j", $t), 2) . " " .
         pad((int)date("G", $t), 2) . ":" . pad((int)date("i", $t), 2);
}

// The content type for a file name, by its extension.
function mime_type($name) {
  $dot = strrpos((string)$name, ".");
  if ($dot === false) return "application/octet-stream";
  $ext = strtolower(substr((string)$name, $dot + 1));
  return MIME_TYPES[$ext] ?? "application/octet-stream";
}

// The label of an order state; "Unknown" for a state not in the table.
function order_state($code) {
  return ORDER_STATES[$code] ?? "Unknown";
}

// A whole number from request text, or `fallback` when it is not one.
function to_int($text, $fallback) {
  $n = filter_var($text, FILTER_VALIDATE_INT);
  return $n === false ? $fallback : $n;
}

// A query string from an array's names and values.
function query_string($params) {
  $parts = [];
  foreach ($params as $name => $value) {
    if ($value === null) continue;
    $parts[] = rawurlencode((string)$name) . "=" . rawurlencode((string)$value);
  }
  return implode("&", $parts);
}

// A link to `path` with `params`.
function link_to($path, $params, $text) {
  $query = query_string($params ?? []);
  $href = $path . ($query !== "" ? "?" . $query : "");
  return "<a href=\"" . html_escape($href) . "\">" . html_escape($text) . "</a>";
}

// The pages a pager shows around `current` of `total`.
function pager_pages($current, $total) {
  $half = intdiv(MAX_PAGES_SHOWN, 2);
  $first = max(1, $current - $half);
  $last = min($total, $first + MAX_PAGES_SHOWN - 1);
  $first = max(1, $last - MAX_PAGES_SHOWN + 1);
  $pages = [];
  for ($p = $first; $p <= $last; $p++) $pages[] = $p;
  return $pages;
}

// The pager's HTML for a list of `count` rows.
function pager($path, $current, $count) {
  $total = max(1, (int)ceil($count / PAGE_SIZE));
  $pages = pager_pages($current, $total);
  $html = "<nav class=\"pager\">";
  foreach ($pages as $p) {
    if ($p == $current) $html .= "<b>" . $p . "</b>";
    else $html .= link_to($path, ["page" => $p], (string)$p);
  }
  return $html . "</nav>";
}

// One table row of cells, escaped.
function row($cells) {
  $html = "<tr>";
  foreach ($cells as $cell) $html .= "<td>" . html_escape($cell) . "</td>";
  return $html . "</tr>";
}

// The page's title element.
function title($text) {
  return "<title>" . html_escape($text ? $text . " - " . SITE_NAME : SITE_NAME) . "</title>";
}

// The greeting at the top of every page.
function greeting($name) {
  return "hello " . trim_text($name);
}

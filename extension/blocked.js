// The page a blocked site's address leads to: the address's host comes after the "#".
"use strict";

let host = "";
try {
  host = decodeURIComponent(location.hash.slice(1));
} catch (e) {
  // Not an escaped host: the page says only that the site is blocked.
}
if (host) {
  const said = "此网站已被浏览哨兵禁止：" + host;
  document.title = said;
  document.getElementById("said").textContent = said;
}

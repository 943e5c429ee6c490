// The supervisor's page. Every text from the database goes in through
// textContent, never as markup. The last runs are polled every two seconds;
// the figures are fetched again when they change, and once a minute anyway.
"use strict";

const POLL_MS = 2000;
const REFRESH_MS = 60000;
const charts = {};
let lastRuns = null;
let lastFigures = 0;
// The page's words in the reader's language: the server fills the block from the station's
// translations (English, the words written here, when it has none). %1, %2 take args.
const WORDS = JSON.parse(document.getElementById("words").textContent || "{}");
// Times in the page's language when it is translated, else in the browser's own.
const LOCALE = document.documentElement.lang === "en" ? undefined : document.documentElement.lang;

function w(text, ...args) {
  let s = Object.hasOwn(WORDS, text) ? WORDS[text] : text;
  args.forEach((a, i) => { s = s.split("%" + (i + 1)).join(String(a)); });
  return s;
}

// A reason from the records: the code's words, and a finding after ": " kept as it is.
function reasonWords(text) {
  if (!text) return text;
  const cut = text.indexOf(": ");
  return Object.hasOwn(WORDS, text) || cut < 0 ? w(text)
    : w(text.slice(0, cut)) + text.slice(cut);
}

function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined && text !== null) e.textContent = String(text);
  if (cls) e.className = cls;
  return e;
}

function percent(part, whole) {
  return whole > 0 ? (100 * part / whole).toFixed(1) + "%" : "-";
}

function localTime(iso) {
  const d = new Date(iso);
  return isNaN(d) ? iso : d.toLocaleString(LOCALE);
}

async function getJson(url) {
  const r = await fetch(url, { cache: "no-store" });
  const body = await r.json();
  if (!r.ok) {
    throw Object.assign(new Error(body.error || r.statusText), {
      status: r.status,
      badRequest: r.status === 400,
    });
  }
  return body;
}

// Each cell carries its column's name, which a phone shows beside it in place of the header.
function fillRows(table, rows) {
  const t = document.querySelector(table);
  const names = [...t.querySelectorAll("thead th")].map(th => th.textContent);
  for (const tr of rows) {
    [...tr.cells].forEach((td, i) => { if (names[i]) td.dataset.label = names[i]; });
  }
  t.querySelector("tbody").replaceChildren(...rows);
}

function row(cells, cls) {
  const tr = el("tr", null, cls);
  for (const c of cells) tr.append(c instanceof Node ? wrapCell(c) : el("td", c));
  return tr;
}

function wrapCell(node) {
  const td = el("td");
  td.append(node);
  return td;
}

function chart(id, config) {
  if (typeof Chart === "undefined") return;
  // The chart fills its box, whose height the page sets for a wall and for a phone.
  config.options.maintainAspectRatio = false;
  if (charts[id]) {
    charts[id].data = config.data;
    charts[id].update("none");
  } else {
    charts[id] = new Chart(document.getElementById(id), config);
  }
}

function yieldChart(id, rows) {
  chart(id, {
    type: "bar",
    data: {
      labels: rows.map(r => r.key),
      datasets: [
        { label: w("First-pass yield %"), data: rows.map(r => +(100 * r.firstPass / r.units).toFixed(1)),
          backgroundColor: "#4a90d9" },
        { label: w("Final yield %"), data: rows.map(r => +(100 * r.finalPass / r.units).toFixed(1)),
          backgroundColor: "#7bc67b" },
      ],
    },
    options: { animation: false, scales: { y: { min: 0, max: 100 } } },
  });
}

function groupRows(table, rows) {
  fillRows(table, rows.map(r => row([r.key === "" ? w("(none)") : r.key, r.units, r.firstPass,
    percent(r.firstPass, r.units), r.finalPass, percent(r.finalPass, r.units)])));
}

function showStations(rows) {
  let units = 0, first = 0, fin = 0;
  for (const r of rows) { units += r.units; first += r.firstPass; fin += r.finalPass; }
  document.getElementById("total-units").textContent = String(units);
  document.getElementById("total-first").textContent = percent(first, units);
  document.getElementById("total-final").textContent = percent(fin, units);
  groupRows("#stations", rows);
  yieldChart("chart-station", rows);
}

// Per product, lot and operator; an older database without the lot or operator column answers
// 400, and its section stays hidden.
async function showGroup(by, table) {
  const section = document.getElementById("section-" + by);
  try {
    groupRows(table, (await getJson("/api/yield?by=" + by)).rows);
    section.hidden = false;
  } catch (e) {
    if (!e.badRequest) throw e;
    section.hidden = true;
  }
}

// A bar's name in lines of about width characters, so a reason fits beside its bar on a phone.
// A wide (Chinese) character counts twice and may end a line anywhere.
function wrapWords(text, width) {
  const size = s => [...s].reduce((n, c) => n + (c >= "\u2e80" ? 2 : 1), 0);
  const lines = [];
  let line = "";
  for (const word of text.split(" ")) {
    (word.match(/[\u2e80-\uffff]|[^\u2e80-\uffff]+/g) || [""]).forEach((piece, i) => {
      const glue = line && i === 0 ? " " : "";
      if (line && size(line + glue + piece) > width) {
        lines.push(line);
        line = piece;
      } else {
        line += glue + piece;
      }
    });
  }
  lines.push(line);
  return lines;
}

function showPareto(p) {
  fillRows("#pareto", p.rows.map(r => row([r.code, reasonWords(r.reason), r.count,
    r.percent.toFixed(1) + "%", r.cumulativePercent.toFixed(1) + "%"])));
  // Lying bars, most first from the top: each named by its reason in words and its code, in
  // lines as wide as the chart leaves room for.
  chart("chart-pareto", {
    data: {
      labels: p.rows.map(r => reasonWords(r.reason) + " (" + r.code + ")"),
      datasets: [
        { type: "bar", label: w("Drives"), data: p.rows.map(r => r.count), backgroundColor: "#d9534f",
          xAxisID: "x", maxBarThickness: 44 },
        { type: "line", label: w("Cumulative %"), data: p.rows.map(r => +r.cumulativePercent.toFixed(1)),
          borderColor: "#333", backgroundColor: "#333", xAxisID: "x1" },
      ],
    },
    options: { animation: false, indexAxis: "y",
      scales: { x: { beginAtZero: true, ticks: { precision: 0 } },
                x1: { position: "top", min: 0, max: 100, grid: { drawOnChartArea: false } },
                y: { ticks: { autoSkip: false, callback(value) {
                  return wrapWords(this.getLabelForValue(value), this.chart.width < 500 ? 16 : 34);
                } } } } },
  });
}

// A socket label as the rack prints it: the letters (or any text) before its last number name
// the row, the number the column ("A1".."A8" over "B1".."B8"; a USB port "1-2.3" is row "1-2.",
// column 3). A label without a number gets a row of its own.
function rackPlace(label) {
  const m = /^(.*?)(\d+)$/.exec(label);
  return m ? { row: m[1], column: Number(m[2]) } : { row: label, column: 0 };
}

function byText(a, b) {
  return a.localeCompare(b, undefined, { numeric: true });
}

function socketCell(s) {
  const rate = 100 * s.failureRate;
  const shown = rate >= 99.95 ? "100%" : rate.toFixed(1) + "%";
  const cls = s.suspect ? "suspect" : rate >= 20 ? "hot" : rate > 0 ? "warm" : "";
  const cell = el("div", null, "socket " + cls);
  const name = s.key || w("(no port)");
  cell.append(el("span", name, "name"), el("span", shown, "rate"),
              el("span", (s.units === 1 ? w("%1 drive", 1) : w("%1 drives", s.units)) +
                 (s.suspect ? w(", suspect") : ""), "units"));
  cell.title = name + ": " + w("%1% of %2 first passes failed", rate.toFixed(1), s.units) +
    (s.suspect ? w("; suspect") : "");
  return cell;
}

function showSockets(rows) {
  const stations = new Map();
  for (const r of rows) {
    if (!stations.has(r.station)) stations.set(r.station, []);
    stations.get(r.station).push(r);
  }
  const parts = [];
  for (const [station, sockets] of stations) {
    const places = sockets.map(s => rackPlace(s.key || w("(no port)")));
    const rowNames = [...new Set(places.map(p => p.row))].sort(byText);
    const columns = [...new Set(places.map(p => p.column))].sort((a, b) => a - b);
    const grid = el("div", null, "rack");
    grid.style.gridTemplateColumns = "repeat(" + columns.length + ", minmax(0, 1fr))";
    // Two labels on one place ("A1" and "A01") would hide one: the second goes below the rack.
    const taken = new Set();
    let extra = 0;
    sockets.forEach((s, i) => {
      let r = rowNames.indexOf(places[i].row), c = columns.indexOf(places[i].column);
      if (taken.has(r + "," + c)) {
        r = rowNames.length + Math.floor(extra / columns.length);
        c = extra++ % columns.length;
      }
      taken.add(r + "," + c);
      const cell = socketCell(s);
      cell.style.gridRow = String(r + 1);
      cell.style.gridColumn = String(c + 1);
      grid.append(cell);
    });
    const div = el("div", null, "station");
    div.append(el("h3", station), grid);
    parts.push(div);
  }
  const box = document.getElementById("sockets");
  // Three stations or more share the width, so a line's racks stay on a wall's first screen.
  box.classList.toggle("many", parts.length > 2);
  box.replaceChildren(...parts);
}

function serialButton(serial) {
  if (!serial) return el("span", "-");
  const b = el("button", serial, "serial");
  b.type = "button";
  b.addEventListener("click", () => showDrive(serial));
  return b;
}

function result(r) {
  return r.passed ? w("PASS") : w("FAIL %1", r.code);
}

function showRuns(runs) {
  fillRows("#runs", runs.map(r => row([localTime(r.started_utc), r.station_id, r.run_id, r.slot,
    serialButton(r.serial), result(r), reasonWords(r.reason)], r.passed ? "" : "fail")));
}

async function showDrive(serial) {
  try {
    const d = await getJson("/api/drives?serial=" + encodeURIComponent(serial));
    document.getElementById("drive-serial").textContent = d.serial;
    fillRows("#drive-runs", d.runs.map(r => row([localTime(r.started_utc), r.station_id, r.run_id,
      r.slot, result(r), reasonWords(r.reason)], r.passed ? "" : "fail")));
    const last = d.runs.length ? d.runs[d.runs.length - 1] : {};
    fillRows("#drive-record", Object.keys(last).map(k => row([k, last[k] === null ? "" : last[k]])));
    const section = document.getElementById("drive");
    section.hidden = false;
    section.scrollIntoView();
  } catch (e) {
    notice(w("Drive %1: %2", serial, e.message));
  }
}

function notice(text) {
  const n = document.getElementById("notice");
  n.textContent = text;
  n.hidden = !text;
}

async function refreshFigures() {
  const [hour, day, station, socket, pareto] = await Promise.all([
    getJson("/api/yield?by=hour"), getJson("/api/yield?by=day"), getJson("/api/yield?by=station"),
    getJson("/api/yield?by=socket"), getJson("/api/pareto"),
    showGroup("product", "#products"), showGroup("lot", "#lots"),
    showGroup("operator", "#operators")]);
  yieldChart("chart-hour", hour.rows.slice(-48));
  yieldChart("chart-day", day.rows.slice(-31));
  showStations(station.rows);
  showSockets(socket.rows);
  showPareto(pareto);
  lastFigures = Date.now();
}

async function poll() {
  try {
    const runs = await getJson("/api/runs?limit=50");
    const text = JSON.stringify(runs.runs);
    if (text !== lastRuns || Date.now() - lastFigures > REFRESH_MS) {
      await refreshFigures();
      showRuns(runs.runs);
      lastRuns = text;
    }
    document.getElementById("status").textContent = w("updated %1", new Date().toLocaleTimeString(LOCALE));
    notice(typeof Chart === "undefined"
      ? w("Chart.js is not installed (Debian package libjs-chart.js): the tables alone are shown.")
      : "");
  } catch (e) {
    // 503: the records cannot be read (a restore under way, a database
    // down); no time is shown, so old figures are never taken for current.
    document.getElementById("status").textContent =
      e.status === 503 ? w("records unavailable: %1", e.message) : w("not updated: %1", e.message);
  }
  setTimeout(poll, POLL_MS);
}

poll();

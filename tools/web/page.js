// The supervisor's page. Every text from the database goes in through
// textContent, never as markup. The last runs are polled every two seconds;
// the figures are fetched again when they change, and once a minute anyway.
"use strict";

const POLL_MS = 2000;
const REFRESH_MS = 60000;
const charts = {};
let lastRuns = null;
let lastFigures = 0;

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
  return isNaN(d) ? iso : d.toLocaleString();
}

async function getJson(url) {
  const r = await fetch(url, { cache: "no-store" });
  const body = await r.json();
  if (!r.ok) throw Object.assign(new Error(body.error || r.statusText), { status: r.status });
  return body;
}

function fillRows(table, rows) {
  const body = document.querySelector(table + " tbody");
  body.replaceChildren(...rows);
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
        { label: "First-pass yield %", data: rows.map(r => +(100 * r.firstPass / r.units).toFixed(1)),
          backgroundColor: "#4a90d9" },
        { label: "Final yield %", data: rows.map(r => +(100 * r.finalPass / r.units).toFixed(1)),
          backgroundColor: "#7bc67b" },
      ],
    },
    options: { animation: false, scales: { y: { min: 0, max: 100 } } },
  });
}

function showStations(rows) {
  let units = 0, first = 0, fin = 0;
  for (const r of rows) { units += r.units; first += r.firstPass; fin += r.finalPass; }
  document.getElementById("total-units").textContent = String(units);
  document.getElementById("total-first").textContent = percent(first, units);
  document.getElementById("total-final").textContent = percent(fin, units);
  fillRows("#stations", rows.map(r => row([r.key, r.units, r.firstPass,
    percent(r.firstPass, r.units), r.finalPass, percent(r.finalPass, r.units)])));
  yieldChart("chart-station", rows);
}

function showPareto(p) {
  fillRows("#pareto", p.rows.map(r => row([r.code, r.reason, r.count, r.percent.toFixed(1) + "%",
    r.cumulativePercent.toFixed(1) + "%"])));
  chart("chart-pareto", {
    data: {
      labels: p.rows.map(r => r.code),
      datasets: [
        { type: "bar", label: "Drives", data: p.rows.map(r => r.count), backgroundColor: "#d9534f",
          yAxisID: "y" },
        { type: "line", label: "Cumulative %", data: p.rows.map(r => +r.cumulativePercent.toFixed(1)),
          borderColor: "#333", yAxisID: "y1" },
      ],
    },
    options: { animation: false, scales: { y: { beginAtZero: true },
      y1: { position: "right", min: 0, max: 100 } } },
  });
}

function showSockets(rows) {
  const box = document.getElementById("sockets");
  const stations = new Map();
  for (const r of rows) {
    if (!stations.has(r.station)) stations.set(r.station, []);
    stations.get(r.station).push(r);
  }
  const parts = [];
  for (const [station, sockets] of stations) {
    const div = el("div", null, "station");
    div.append(el("h3", station));
    const grid = el("div", null, "grid");
    for (const s of sockets) {
      const cell = el("div", null, s.suspect ? "socket suspect" : "socket");
      cell.append(el("span", s.key || "(no port)"),
                  el("span", (100 * s.failureRate).toFixed(1) + "% failed", "rate"),
                  el("span", s.units + " drives" + (s.suspect ? ", suspect" : "")));
      grid.append(cell);
    }
    div.append(grid);
    parts.push(div);
  }
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
  return r.passed ? "PASS" : "FAIL " + r.code;
}

function showRuns(runs) {
  fillRows("#runs", runs.map(r => row([localTime(r.started_utc), r.station_id, r.run_id, r.slot,
    serialButton(r.serial), result(r), r.reason], r.passed ? "" : "fail")));
}

async function showDrive(serial) {
  try {
    const d = await getJson("/api/drives?serial=" + encodeURIComponent(serial));
    document.getElementById("drive-serial").textContent = d.serial;
    fillRows("#drive-runs", d.runs.map(r => row([localTime(r.started_utc), r.station_id, r.run_id,
      r.slot, result(r), r.reason], r.passed ? "" : "fail")));
    const last = d.runs.length ? d.runs[d.runs.length - 1] : {};
    fillRows("#drive-record", Object.keys(last).map(k => row([k, last[k] === null ? "" : last[k]])));
    const section = document.getElementById("drive");
    section.hidden = false;
    section.scrollIntoView();
  } catch (e) {
    notice("Drive " + serial + ": " + e.message);
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
    getJson("/api/yield?by=socket"), getJson("/api/pareto")]);
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
    document.getElementById("status").textContent = "updated " + new Date().toLocaleTimeString();
    notice(typeof Chart === "undefined"
      ? "Chart.js is not installed (Debian package libjs-chart.js): the tables alone are shown." : "");
  } catch (e) {
    // 503: the records cannot be read (a restore under way, a database
    // down); no time is shown, so old figures are never taken for current.
    document.getElementById("status").textContent =
      (e.status === 503 ? "records unavailable: " : "not updated: ") + e.message;
  }
  setTimeout(poll, POLL_MS);
}

poll();

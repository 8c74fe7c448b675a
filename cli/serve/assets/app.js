// The page of vuxoint serve: plain script, no library. Every state change is a POST
// carrying the session's CSRF token; news arrives over one event stream.
"use strict";

let csrf = "";
const state = { page: 1, limit: 50, sort: "taken_at", order: "asc", total: 0, columns: [] };
const cards = new Map(); // instrument id -> its card's parts

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === "class") e.className = v; else e.setAttribute(k, v);
  }
  for (const c of children) e.append(c instanceof Node ? c : document.createTextNode(String(c)));
  return e;
}

async function api(method, path, params) {
  const query = params ? "?" + new URLSearchParams(params) : "";
  const headers = method === "POST" ? { "X-Vuxoint-Csrf": csrf } : {};
  const res = await fetch(path + query, { method, headers, credentials: "same-origin" });
  const body = await res.json().catch(() => ({}));
  if (!res.ok) throw new Error(body.error || res.statusText);
  return body;
}

function show(view) {
  for (const s of document.querySelectorAll(".view")) s.hidden = s.id !== view;
  for (const b of document.querySelectorAll("nav button")) b.classList.toggle("current", b.dataset.view === view);
  if (view === "measurements") loadTable();
  if (view === "report") {
    const p = {};
    for (const [k, v] of Object.entries(filterParams())) if (["instrument", "since", "until"].includes(k)) p[k] = v;
    document.getElementById("report-frame").src = "/report?" + new URLSearchParams(p);
  }
}

// ---- Instruments ----

function card(inst) {
  let c = cards.get(inst.id);
  if (!c) {
    const root = el("div", { class: "card", "data-id": inst.id });
    c = {
      root,
      title: el("h3"),
      info: el("dl"),
      bar: el("progress", { max: 1, value: 0, hidden: "" }),
      progress: el("span", { class: "progress-text" }),
      summary: el("p", { class: "summary" }),
      error: el("p", { class: "error" }),
      clear: el("button", { class: "clear", disabled: "" }, "Clear the instrument"),
    };
    const infoB = el("button", { class: "info" }, "Read info");
    const clockB = el("button", { class: "set-clock" }, "Set to this computer's time");
    const syncB = el("button", { class: "sync" }, "Sync");
    infoB.onclick = () => loadInfo(inst.id);
    clockB.onclick = () => run(c, async () => {
      const r = await api("POST", `/api/instruments/${inst.id}/clock`);
      c.summary.textContent = `clock set to ${r.set}; reads back ${r.clock}`;
      await loadInfo(inst.id);
    });
    syncB.onclick = () => run(c, async () => {
      c.bar.hidden = false; c.bar.value = 0; c.summary.textContent = ""; c.clear.disabled = true;
      c.progress.textContent = "starting…";
      await api("POST", `/api/instruments/${inst.id}/sync`);
    });
    c.clear.onclick = () => {
      if (!confirm(`Clear every measurement from ${inst.serial || "the instrument"}? ` +
                   "The database holds all of them; the instrument's log will be empty.")) return;
      run(c, async () => {
        const r = await api("POST", `/api/instruments/${inst.id}/clear`, { confirm: "yes" });
        c.summary.textContent = `cleared; the instrument now lists ${r.entries_after_clear ?? "?"} entries`;
        c.clear.disabled = true;
      });
    };
    root.append(c.title, c.info, el("p", { class: "actions" }, infoB, clockB, syncB, c.clear),
                el("p", {}, c.bar, " ", c.progress), c.summary, c.error);
    document.getElementById("instrument-list").append(root);
    cards.set(inst.id, c);
    // Connects it, which also lets its new measurements arrive.
    loadInfo(inst.id);
  }
  c.inst = { ...c.inst, ...inst };
  title(c);
  if (inst.error) c.error.textContent = inst.error;
  return c;
}

function title(c) {
  const i = c.inst;
  c.title.textContent = `${i.serial || "instrument"} ${i.generation || ""} · ${i.conn}` +
                        (i.source === "usb" ? " (USB)" : "");
}

async function run(c, action) {
  c.error.textContent = "";
  try { await action(); } catch (e) { c.error.textContent = e.message; }
}

function listInstruments(list) {
  const ids = new Set(list.map((i) => i.id));
  for (const [id, c] of cards) if (!ids.has(id)) { c.root.remove(); cards.delete(id); }
  for (const inst of list) card(inst);
  if (list.length === 0 && cards.size === 0) {
    document.getElementById("instrument-list").textContent = "";
  }
}

async function loadInfo(id) {
  const c = cards.get(id);
  await run(c, async () => {
    const i = await api("GET", `/api/instruments/${id}/info`);
    c.inst = { ...c.inst, serial: i.serial, generation: i.generation };
    title(c);
    c.info.replaceChildren();
    const rows = [["generation", i.generation], ["serial", i.serial], ["firmware", i.firmware],
      ["clock", `${i.clock} (this computer ${i.computer_clock}, offset ${i.clock_offset_s ?? "unknown"} s)`],
      ["memory", `${i.memory_usage} (${i.memory_text})`], ["entries", i.entries],
      ["last synced", i.last_sync || "never"]];
    for (const [k, v] of rows) c.info.append(el("dt", {}, k), el("dd", { "data-field": k }, v));
  });
}

function onSync(p) {
  const c = cards.get(p.id);
  if (!c) return;
  c.bar.hidden = false;
  if (p.phase === "entries") {
    c.progress.textContent = `reading the entry list: ${p.done} of ${p.total} pages`;
    return;
  }
  c.bar.max = Math.max(p.total, 1); c.bar.value = p.done;
  let text = `${p.done} of ${p.total} records`;
  if (p.rate) text += `, ${p.rate.toFixed(1)} records/s, ${Math.ceil(p.eta_s)} s left`;
  c.progress.textContent = text;
}

function onSyncDone(d) {
  const c = cards.get(d.id);
  if (!c) return;
  c.bar.max = 1; c.bar.value = 1;
  c.bar.classList.add("finished");
  c.progress.textContent = d.complete ? "done" : "not complete";
  c.summary.textContent = d.summary || "";
  c.error.textContent = d.error || (d.problems || []).join("\n");
  c.clear.disabled = !d.complete;
  loadInfo(d.id);
}

// ---- Measurements ----

function filterParams() {
  const p = {};
  for (const [k, v] of new FormData(document.getElementById("filter"))) if (v) p[k] = v;
  return p;
}

async function loadTable() {
  const err = document.getElementById("table-error");
  err.textContent = "";
  try {
    const r = await api("GET", "/api/measurements",
      { ...filterParams(), sort: state.sort, order: state.order, page: state.page, limit: state.limit });
    state.total = r.total; state.columns = r.columns || [];
    const shown = ["instrument", "generation", "slot", "key", "number", "taken_at", "kind",
                   "susceptibility", "susceptibility_units", "conductivity", "conductivity_units", "note_text"];
    const idx = shown.map((n) => state.columns.indexOf(n));
    const head = el("tr");
    for (const n of shown) {
      const th = el("th", { "data-column": n }, n);
      if (n === state.sort) th.className = "sorted" + (state.order === "desc" ? " desc" : "");
      th.onclick = () => {
        state.order = state.sort === n && state.order === "asc" ? "desc" : "asc";
        state.sort = n; state.page = 1; loadTable();
      };
      head.append(th);
    }
    document.querySelector("#table thead").replaceChildren(head);
    const body = document.querySelector("#table tbody");
    body.replaceChildren();
    const at = (row, name) => row[state.columns.indexOf(name)];
    for (const row of r.rows) {
      const tr = el("tr", { "data-kind": String(at(row, "kind")) });
      idx.forEach((i, k) => tr.append(el("td", {}, i < 0 || row[i] === null ? "" :
        (shown[k] === "kind" ? kindText(row[i]) : row[i]))));
      tr.onclick = () => openDetail(at(row, "instrument"), at(row, "slot"), at(row, "key"));
      body.append(tr);
    }
    const pages = Math.max(1, Math.ceil(state.total / state.limit));
    document.getElementById("page-info").textContent = `page ${state.page} of ${pages} (${state.total} measurements)`;
    document.getElementById("prev").disabled = state.page <= 1;
    document.getElementById("next").disabled = state.page >= pages;
  } catch (e) { err.textContent = e.message; }
  updateExports();
}

function kindText(k) { return ["none", "single", "scan", "other"][k] ?? k; }

async function openDetail(instrument, slot, key) {
  const r = await api("GET", "/api/measurement", { instrument, slot, key });
  const f = r.fields;
  document.getElementById("detail-title").textContent = `${f.instrument} · slot ${f.slot} · number ${f.number} · ${f.kind}`;
  const chart = document.getElementById("chart");
  chart.innerHTML = r.chart || ""; // SVG drawn and escaped by the server's own chart code
  const table = document.getElementById("fields");
  table.replaceChildren(...Object.entries(f).map(([k, v]) => el("tr", {}, el("th", {}, k), el("td", {}, v ?? ""))));
  document.getElementById("detail").hidden = false;
  document.getElementById("detail").scrollIntoView();
}

function updateExports() {
  // The export takes the instrument and the period; kind and note narrow the table only.
  const p = {};
  for (const [k, v] of Object.entries(filterParams())) if (["instrument", "since", "until"].includes(k)) p[k] = v;
  const link = (id, extra) => {
    document.getElementById(id).href = "/api/export?" + new URLSearchParams({ ...p, ...extra });
  };
  link("export-csv", { format: "csv" });
  link("export-json", { format: "json" });
  link("export-ndjson", { format: "ndjson" });
  link("export-scans", { format: "csv", scans: "1" });
}

// ---- Live ----

function onMeasurement(m) {
  const tr = el("tr", { class: "fresh" }, el("td", {}, m.instrument), el("td", {}, m.slot),
    el("td", {}, m.number), el("td", {}, m.taken_at), el("td", {}, m.kind),
    el("td", {}, `${m.susceptibility ?? ""} ${m.susceptibility_units}`),
    el("td", {}, m.conductivity_units ? `${m.conductivity ?? ""} ${m.conductivity_units}` : ""),
    el("td", {}, m.error ? m.error : m.stored ? "stored" : "already held"));
  document.querySelector("#live-table tbody").prepend(tr);
}

// ---- Start ----

async function start() {
  const s = await api("GET", "/api/session");
  csrf = s.csrf;
  document.getElementById("database").textContent = "database " + s.database;
  for (const b of document.querySelectorAll("nav button")) b.onclick = () => show(b.dataset.view);
  document.getElementById("add-form").onsubmit = async (e) => {
    e.preventDefault();
    const err = document.getElementById("add-error");
    err.textContent = "";
    try {
      const inst = await api("POST", "/api/instruments", { conn: document.getElementById("add-conn").value });
      card(inst);
    } catch (x) { err.textContent = x.message; }
  };
  document.getElementById("filter").onsubmit = (e) => { e.preventDefault(); state.page = 1; loadTable(); };
  document.getElementById("prev").onclick = () => { state.page--; loadTable(); };
  document.getElementById("next").onclick = () => { state.page++; loadTable(); };
  document.getElementById("detail-close").onclick = () => { document.getElementById("detail").hidden = true; };
  const events = new EventSource("/api/events");
  // Whatever changed before the stream was open is read once it is.
  events.addEventListener("open", async () => listInstruments(await api("GET", "/api/instruments")));
  events.addEventListener("instruments", (e) => listInstruments(JSON.parse(e.data)));
  events.addEventListener("instrument", (e) => card(JSON.parse(e.data)));
  events.addEventListener("sync", (e) => onSync(JSON.parse(e.data)));
  events.addEventListener("sync-done", (e) => onSyncDone(JSON.parse(e.data)));
  events.addEventListener("measurement", (e) => onMeasurement(JSON.parse(e.data)));
  listInstruments(await api("GET", "/api/instruments"));
  updateExports();
}

start();

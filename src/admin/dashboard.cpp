#include "admin/dashboard.h"

namespace vornhal::admin {

namespace {

// Element ids are stable: the browser test looks for them.
constexpr std::string_view kPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vornhal operator</title>
<style>
  :root { --bg:#14171c; --panel:#1d2128; --line:#2c323c; --text:#d9dee7; --dim:#8a93a3;
          --accent:#e0b04a; --chara:#ff4f6d; --npc:#b07cff; --mob:#ff9b2f; --item:#3fd0ff;
          --portal:#4dff88; --walk:#39414d; --wall:#1a1d22; }
  * { box-sizing: border-box; }
  body { margin:0; font:14px/1.4 system-ui, sans-serif; background:var(--bg); color:var(--text); }
  header { display:flex; align-items:center; gap:16px; padding:10px 18px; background:var(--panel);
           border-bottom:1px solid var(--line); }
  header h1 { font-size:18px; margin:0; color:var(--accent); letter-spacing:.5px; }
  header .grow { flex:1; }
  main { display:grid; grid-template-columns: minmax(420px, 1fr) minmax(420px, 1.2fr); gap:14px; padding:14px; }
  section { background:var(--panel); border:1px solid var(--line); border-radius:6px; padding:12px 14px; }
  section h2 { font-size:14px; margin:0 0 8px; color:var(--dim); text-transform:uppercase; letter-spacing:1px; }
  .wide { grid-column: 1 / -1; }
  table { width:100%; border-collapse:collapse; }
  th, td { text-align:left; padding:4px 6px; border-bottom:1px solid var(--line); white-space:nowrap; }
  th { color:var(--dim); font-weight:normal; }
  .kv { display:grid; grid-template-columns: repeat(4, 1fr); gap:8px; }
  .kv div { background:#171a20; border-radius:4px; padding:6px 8px; }
  .kv b { display:block; font-size:20px; color:var(--text); }
  .kv span { color:var(--dim); font-size:12px; }
  button { background:#2b3340; color:var(--text); border:1px solid #3b4556; border-radius:4px;
           padding:3px 9px; cursor:pointer; }
  button:hover { border-color:var(--accent); }
  button.danger:hover { border-color:var(--chara); }
  input, select { background:#11141a; color:var(--text); border:1px solid #3b4556; border-radius:4px; padding:3px 6px; }
  input.level { width:52px; }
  #login { max-width:420px; margin:80px auto; }
  #login input { width:100%; margin:8px 0; padding:8px; font-family:monospace; }
  #map-wrap { overflow:auto; max-height:560px; background:var(--wall); border-radius:4px; }
  canvas { display:block; }
  .legend span { display:inline-block; margin-right:12px; color:var(--dim); }
  .legend i { display:inline-block; width:10px; height:10px; margin-right:4px; vertical-align:middle; }
  #message { color:var(--accent); min-height:1.4em; }
  .hidden { display:none !important; }
  #map-objects { max-height:160px; overflow:auto; margin-top:8px; font-size:12px; }
</style>
</head>
<body>
<header>
  <h1>Vornhal</h1><span id="version" class="dim"></span><span class="grow"></span>
  <span id="message"></span>
  <button id="logout" class="hidden">Forget token</button>
</header>

<section id="login" class="hidden">
  <h2>Admin token</h2>
  <p>Enter the token from the server's INI file ([AdminServer] Token).</p>
  <form id="login-form">
    <input id="token" type="password" autocomplete="off" placeholder="token">
    <button id="login-button" type="submit">Open dashboard</button>
  </form>
  <p id="login-error" style="color:var(--chara)"></p>
</section>

<main id="dashboard" class="hidden">
  <section class="wide">
    <h2>Status</h2>
    <div class="kv" id="status">
      <div><span>players online</span><b id="st-players">-</b></div>
      <div><span>connections Multi / Zone</span><b id="st-connections">-</b></div>
      <div><span>characters</span><b id="st-characters">-</b></div>
      <div><span>uptime</span><b id="st-uptime">-</b></div>
      <div><span>tick last / max (1 min)</span><b id="st-tick">-</b></div>
      <div><span>last save</span><b id="st-save">-</b></div>
      <div><span>announce</span><form id="say-form"><input id="say-text" placeholder="message to everyone"> <button>Send</button></form></div>
      <div><span>save every character</span><button id="save-now">Save now</button></div>
    </div>
  </section>

  <section>
    <h2>Players</h2>
    <table>
      <thead><tr><th>name</th><th>map</th><th>x, y</th><th>level</th><th>address</th><th>GM</th><th></th></tr></thead>
      <tbody id="players"></tbody>
    </table>
    <p id="no-players" class="dim">Nobody is in the world.</p>
  </section>

  <section>
    <h2>Map <select id="map-select"></select> <span id="map-name"></span></h2>
    <div class="legend">
      <span><i style="background:var(--chara)"></i>players</span><span><i style="background:var(--npc)"></i>NPCs</span>
      <span><i style="background:var(--mob)"></i>mobs</span><span><i style="background:var(--item)"></i>items</span>
      <span><i style="background:var(--portal)"></i>portals</span>
    </div>
    <div id="map-wrap"><canvas id="map-canvas" width="10" height="10"></canvas></div>
    <div id="map-objects"><table><tbody id="map-object-rows"></tbody></table></div>
  </section>

  <section class="wide">
    <h2>Tick duration (ms, longest per second) and players online</h2>
    <canvas id="chart" width="1200" height="220" style="width:100%"></canvas>
  </section>
</main>

<script>
"use strict";
const KEY = "vornhalAdminToken";
const COLORS = { chara:"#ff4f6d", npc:"#b07cff", mob:"#ff9b2f", item:"#3fd0ff", portal:"#4dff88" };
let token = sessionStorage.getItem(KEY);
let timers = [];
let currentMap = null;
let mapChosen = false;
let lastPlayers = "";

const $ = (id) => document.getElementById(id);

function showLogin(error) {
  timers.forEach(clearInterval); timers = [];
  lastPlayers = "";
  $("dashboard").classList.add("hidden");
  $("logout").classList.add("hidden");
  $("login").classList.remove("hidden");
  $("login-error").textContent = error || "";
  $("token").focus();
}

async function api(path, body) {
  const options = { headers: { "Authorization": "Bearer " + token } };
  if (body !== undefined) {
    options.method = "POST";
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  const res = await fetch(path, options);
  if (res.status === 401) {
    sessionStorage.removeItem(KEY);
    token = null;
    showLogin("The token was not accepted.");
    throw new Error("unauthorized");
  }
  const data = await res.json().catch(() => ({}));
  if (!res.ok) throw new Error(data.error || ("HTTP " + res.status));
  return data;
}

function say(text) { $("message").textContent = text; setTimeout(() => { if ($("message").textContent === text) $("message").textContent = ""; }, 4000); }

function duration(s) {
  const d = Math.floor(s / 86400), h = Math.floor(s % 86400 / 3600), m = Math.floor(s % 3600 / 60);
  return (d ? d + "d " : "") + h + "h " + m + "m " + (s % 60) + "s";
}

async function refreshStatus() {
  const st = await api("/api/status");
  $("version").textContent = st.version;
  $("st-players").textContent = st.players_online;
  $("st-connections").textContent = st.connections.Multi + " / " + st.connections.Zone;
  $("st-characters").textContent = st.characters;
  $("st-uptime").textContent = duration(st.uptime_s);
  $("st-tick").textContent = st.tick.last_ms.toFixed(2) + " / " + st.tick.max_ms.toFixed(2) + " ms";
  $("st-save").textContent = st.last_save ? st.last_save.time.replace("T", " ") + " (" + st.last_save.characters + ")" : "none yet";
  const select = $("map-select");
  if (select.options.length !== st.maps.length) {
    select.innerHTML = "";
    for (const m of st.maps) {
      const o = document.createElement("option");
      o.value = m.id; o.textContent = m.id + " " + m.name;
      select.appendChild(o);
    }
  }
  if (!mapChosen && st.maps.length) {
    const busiest = st.maps.reduce((a, b) => (b.players > a.players ? b : a), st.maps[0]);
    if (busiest.id !== currentMap) { currentMap = busiest.id; select.value = String(currentMap); guard(refreshMap)(); }
  }
}

function cell(text) { const td = document.createElement("td"); td.textContent = text; return td; }

async function refreshPlayers() {
  const players = await api("/api/players");
  // Rebuilt only when something changed, so a GM level being typed in is not wiped.
  const text = JSON.stringify(players);
  if (text === lastPlayers) return;
  lastPlayers = text;
  const body = $("players");
  body.innerHTML = "";
  $("no-players").classList.toggle("hidden", players.length > 0);
  for (const p of players) {
    const tr = document.createElement("tr");
    tr.dataset.name = p.name;
    tr.append(cell(p.name), cell(p.map), cell(p.x + ", " + p.y), cell(p.level), cell(p.address));
    const gm = document.createElement("td");
    const level = document.createElement("input");
    level.type = "number"; level.min = 0; level.max = 255; level.value = p.gm_level; level.className = "level";
    const set = document.createElement("button");
    set.textContent = "Set GM"; set.className = "set-gm";
    set.onclick = () => api("/api/gm", { name: p.name, level: Number(level.value) })
      .then(() => say(p.name + ": GM level " + level.value)).catch((e) => say(e.message));
    gm.append(level, " ", set);
    const actions = document.createElement("td");
    const kick = document.createElement("button");
    kick.textContent = "Kick"; kick.className = "danger kick";
    kick.onclick = () => api("/api/kick", { name: p.name }).then(() => say(p.name + " kicked")).catch((e) => say(e.message));
    actions.append(kick);
    tr.append(gm, actions);
    body.appendChild(tr);
  }
}

function walkable(map) {
  const bytes = atob(map.walkable);
  return (x, y) => { const i = y * map.width + x; return (bytes.charCodeAt(i >> 3) >> (7 - (i & 7))) & 1; };
}

async function refreshMap() {
  if (currentMap === null) return;
  const map = await api("/api/maps/" + currentMap);
  if (map.id !== currentMap) return;
  $("map-name").textContent = map.name + " (" + map.width + " x " + map.height + ")";
  const room = $("map-wrap").clientWidth || 640;
  const size = Math.max(3, Math.min(12, Math.floor(room / Math.max(map.width, 1))));
  const canvas = $("map-canvas");
  canvas.width = map.width * size; canvas.height = map.height * size;
  canvas.dataset.cell = size; canvas.dataset.map = map.id;
  const g = canvas.getContext("2d");
  g.fillStyle = "#1a1d22"; g.fillRect(0, 0, canvas.width, canvas.height);
  const walk = walkable(map);
  g.fillStyle = "#39414d";
  for (let y = 0; y < map.height; y++) for (let x = 0; x < map.width; x++) if (walk(x, y)) g.fillRect(x * size, y * size, size, size);
  const order = { portal:0, item:1, npc:2, mob:3, chara:4 };
  const objects = map.objects.slice().sort((a, b) => order[a.kind] - order[b.kind]);
  const rows = $("map-object-rows");
  rows.innerHTML = "";
  // Names first, so no name ever covers a character's dot.
  g.fillStyle = "#fff"; g.font = "11px sans-serif";
  for (const o of objects) if (o.kind === "chara") g.fillText(o.name, (o.x + 1.2) * size, (o.y + .3) * size);
  for (const o of objects) {
    g.fillStyle = COLORS[o.kind] || "#fff";
    if (o.kind === "chara") {
      g.beginPath(); g.arc((o.x + .5) * size, (o.y + .5) * size, size * .8, 0, 2 * Math.PI); g.fill();
    } else {
      g.fillRect(o.x * size, o.y * size, size, size);
    }
    const tr = document.createElement("tr");
    tr.dataset.kind = o.kind; tr.dataset.name = o.name;
    const swatch = cell("\u25A0"); swatch.style.color = COLORS[o.kind];
    tr.append(swatch, cell(o.kind), cell(o.name), cell(o.x + ", " + o.y));
    rows.appendChild(tr);
  }
}

async function refreshChart() {
  const h = await api("/api/history");
  const c = $("chart"), g = c.getContext("2d");
  const W = c.width, H = c.height, pad = 34;
  g.clearRect(0, 0, W, H);
  g.fillStyle = "#171a20"; g.fillRect(0, 0, W, H);
  const s = h.samples;
  g.strokeStyle = "#2c323c"; g.fillStyle = "#8a93a3"; g.font = "11px sans-serif";
  if (!s.length) { g.fillText("collecting...", pad, H / 2); return; }
  const maxTick = Math.max(30, ...s.map((p) => p.tick_max_ms));
  const maxPlayers = Math.max(1, ...s.map((p) => p.players));
  const t0 = s[0].t, t1 = Math.max(s[s.length - 1].t, t0 + 1);
  const X = (t) => pad + (W - 2 * pad) * (t - t0) / (t1 - t0);
  for (const f of [0, .5, 1]) {
    const y = H - pad + (2 * pad - H) * f;
    g.beginPath(); g.moveTo(pad, y); g.lineTo(W - pad, y); g.stroke();
    g.fillText((maxTick * f).toFixed(0) + " ms", 2, y + 4);
    g.fillText(String(Math.round(maxPlayers * f)), W - pad + 4, y + 4);
  }
  const line = (key, max, color) => {
    g.strokeStyle = color; g.lineWidth = 2; g.beginPath();
    s.forEach((p, i) => { const y = H - pad - (H - 2 * pad) * p[key] / max; i ? g.lineTo(X(p.t), y) : g.moveTo(X(p.t), y); });
    g.stroke(); g.lineWidth = 1;
  };
  g.strokeStyle = "#e0b04a55"; g.beginPath();
  const y30 = H - pad - (H - 2 * pad) * 30 / maxTick; g.moveTo(pad, y30); g.lineTo(W - pad, y30); g.stroke();
  line("tick_max_ms", maxTick, "#e0b04a");
  line("players", maxPlayers, "#ff4f6d");
  g.fillStyle = "#e0b04a"; g.fillText("tick ms", pad + 6, 14);
  g.fillStyle = "#ff4f6d"; g.fillText("players", pad + 70, 14);
  g.fillStyle = "#8a93a3"; g.fillText(Math.round((t1 - t0) / 60 * 10) / 10 + " min", W - pad - 50, 14);
}

function guard(fn) { return () => fn().catch((e) => { if (e.message !== "unauthorized") say(e.message); }); }

function start() {
  $("login").classList.add("hidden");
  $("dashboard").classList.remove("hidden");
  $("logout").classList.remove("hidden");
  const jobs = [[refreshStatus, 1000], [refreshPlayers, 1000], [refreshMap, 1000], [refreshChart, 5000]];
  for (const [fn, ms] of jobs) { guard(fn)(); timers.push(setInterval(guard(fn), ms)); }
}

$("login-form").addEventListener("submit", (e) => {
  e.preventDefault();
  token = $("token").value.trim();
  if (!token) return;
  sessionStorage.setItem(KEY, token);
  start();
});
$("logout").onclick = () => { sessionStorage.removeItem(KEY); token = null; showLogin(); };
$("map-select").onchange = (e) => { mapChosen = true; currentMap = Number(e.target.value); guard(refreshMap)(); };
$("say-form").addEventListener("submit", (e) => {
  e.preventDefault();
  const text = $("say-text").value;
  if (!text) return;
  api("/api/broadcast", { text }).then(() => { $("say-text").value = ""; say("sent"); }).catch((e) => say(e.message));
});
$("save-now").onclick = () => api("/api/save", {}).then((r) => say("saved " + r.characters)).catch((e) => say(e.message));

if (token) start(); else showLogin();
</script>
</body>
</html>
)PAGE";

}  // namespace

std::string_view DashboardPage() { return kPage; }

}  // namespace vornhal::admin

// Draws the frames the server sends and sends back the mouse's camera moves.
"use strict";

const VIEWS = ["workspace", "images"];
const canvases = VIEWS.map((name) => document.getElementById(name));
const statusLine = document.getElementById("status");
// Frames drawn per view; the tests and the benchmark read them.
window.marnox = { frames: [0, 0] };

let socket = null;

function showStatus(text, kind) {
  statusLine.textContent = text;
  statusLine.className = kind;
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

async function draw(data) {
  const view = new Uint8Array(data, 0, 1)[0];
  const canvas = canvases[view];
  if (!canvas) return;
  try {
    const jpeg = new Blob([new Uint8Array(data, 1)], { type: "image/jpeg" });
    const bitmap = await createImageBitmap(jpeg);
    if (canvas.width !== bitmap.width || canvas.height !== bitmap.height) {
      canvas.width = bitmap.width;
      canvas.height = bitmap.height;
    }
    canvas.getContext("2d").drawImage(bitmap, 0, 0);
    bitmap.close();
    canvas.hidden = false;
    window.marnox.frames[view] += 1;
  } catch (error) {
    console.warn(`marnox: a ${VIEWS[view]} frame could not be drawn`, error);
  } finally {
    // The server sends this view's next frame only after this: a slow page skips frames.
    send({ type: "ack", view: VIEWS[view] });
  }
}

// A recording's timeline, when the server replays one: play/pause, a slider, the time.
const timeline = document.getElementById("timeline");
const playButton = document.getElementById("play");
const slider = document.getElementById("slider");
const clock = document.getElementById("clock");
let playing = false;
let sliding = false;

function showTimeline(message) {
  if (message.type !== "timeline") return;
  timeline.hidden = false;
  playing = message.playing;
  playButton.textContent = playing ? "pause" : "play";
  slider.max = message.duration;
  if (!sliding) slider.value = message.time;
  clock.textContent = `${message.time.toFixed(2)} / ${message.duration.toFixed(2)} s`;
}

playButton.addEventListener("click", () => send({ type: playing ? "pause" : "play" }));
slider.addEventListener("input", () => {
  sliding = true;
  send({ type: "seek", time: Number(slider.value) });
});
slider.addEventListener("change", () => {
  sliding = false;
});

function connect() {
  const url = new URL("ws", location.href);
  url.protocol = location.protocol === "https:" ? "wss:" : "ws:";
  socket = new WebSocket(url);
  socket.binaryType = "arraybuffer";
  socket.onopen = () => showStatus("live", "live");
  socket.onmessage = (event) => {
    if (typeof event.data === "string") showTimeline(JSON.parse(event.data));
    else draw(event.data);
  };
  socket.onclose = (event) => {
    showStatus(`disconnected (${event.reason || event.code}), retrying`, "lost");
    setTimeout(connect, 2000);
  };
}

// Mouse moves are summed and sent at most every 16 ms.
const workspace = canvases[0];
const pending = { rotate: [0, 0], pan: [0, 0], zoom: 1 };
let drag = null;
let flushTimer = null;

function clamp(value, low, high) {
  return Math.min(Math.max(value, low), high);
}

function flush() {
  flushTimer = null;
  for (const kind of ["rotate", "pan"]) {
    const [dx, dy] = pending[kind];
    if (dx !== 0 || dy !== 0) send({ type: kind, dx: clamp(dx, -10, 10), dy: clamp(dy, -10, 10) });
    pending[kind] = [0, 0];
  }
  if (pending.zoom !== 1) send({ type: "zoom", factor: clamp(pending.zoom, 0.05, 20) });
  pending.zoom = 1;
}

function schedule() {
  if (flushTimer === null) flushTimer = setTimeout(flush, 16);
}

workspace.addEventListener("pointerdown", (event) => {
  if (event.button !== 0 && event.button !== 1) return;
  event.preventDefault();
  workspace.setPointerCapture(event.pointerId);
  const mode = event.button === 1 || event.shiftKey ? "pan" : "rotate";
  drag = { mode, x: event.clientX, y: event.clientY };
});

workspace.addEventListener("pointermove", (event) => {
  if (!drag) return;
  const box = workspace.getBoundingClientRect();
  pending[drag.mode][0] += (event.clientX - drag.x) / box.width;
  pending[drag.mode][1] += (event.clientY - drag.y) / box.height;
  drag.x = event.clientX;
  drag.y = event.clientY;
  schedule();
});

for (const name of ["pointerup", "pointercancel"]) {
  workspace.addEventListener(name, () => {
    drag = null;
  });
}

workspace.addEventListener(
  "wheel",
  (event) => {
    event.preventDefault();
    const lines = event.deltaMode === WheelEvent.DOM_DELTA_LINE ? 40 : 1;
    pending.zoom *= Math.exp((-event.deltaY * lines) / 500);
    schedule();
  },
  { passive: false },
);

workspace.addEventListener("dblclick", () => send({ type: "reset" }));
// The middle button would otherwise start scrolling or paste.
workspace.addEventListener("mousedown", (event) => {
  if (event.button === 1) event.preventDefault();
});
workspace.addEventListener("contextmenu", (event) => event.preventDefault());

connect();

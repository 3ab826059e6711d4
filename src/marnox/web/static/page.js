// Draws the frames the server sends and sends back the mouse's camera moves.
"use strict";

const main = document.querySelector("main");
const statusLine = document.getElementById("status");
// The views the server shows, {name, canvas}, in the order a frame's first byte indexes.
let views = [];
let socket = null;

function showStatus(text, kind) {
  statusLine.textContent = text;
  statusLine.className = kind;
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

// One canvas per view, drawn at the view's full size whatever the size of a frame. The first
// view is the workspace view, which the mouse steers. A canvas counts the frames it drew in
// its data-frames attribute.
function showViews({ names, sizes }) {
  views = names.map((name, index) => {
    let canvas = document.getElementById(name);
    if (canvas === null) {
      canvas = document.createElement("canvas");
      canvas.id = name;
      canvas.title = name;
      canvas.hidden = true;
      canvas.dataset.frames = "0";
      main.append(canvas);
      if (index === 0) steer(canvas);
    }
    [canvas.width, canvas.height] = sizes[index];
    return { name, canvas };
  });
}

// A recording's timeline, when the server replays one: play/pause, a slider, the time.
const timeline = document.getElementById("timeline");
const playButton = document.getElementById("play");
const slider = document.getElementById("slider");
const clock = document.getElementById("clock");
let playing = false;
let sliding = false;

function showTimeline(message) {
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

// While the camera moves, frames come with fewer pixels, scaled up here; the page then shows
// the rate and the size of the frames it draws, so a user sees what link and machine give.
const rate = { line: document.getElementById("rate"), times: [], hideTimer: null };

function showRate(bitmap, bytes) {
  const now = performance.now();
  rate.times.push(now);
  while (rate.times[0] < now - 1000) rate.times.shift();
  const kilobytes = Math.round(bytes / 1024);
  rate.line.textContent = `${rate.times.length} frames/s · ${bitmap.width}×${bitmap.height} · ${kilobytes} kB`;
  rate.line.hidden = false;
  clearTimeout(rate.hideTimer);
  rate.hideTimer = setTimeout(() => {
    rate.line.hidden = true;
    rate.times = [];
  }, 1500);
}

// What the server sends as text, by type.
const textHandlers = { views: showViews, timeline: showTimeline };

async function draw(data) {
  const view = views[new Uint8Array(data, 0, 1)[0]];
  if (!view) return;
  const canvas = view.canvas;
  try {
    const jpeg = new Blob([new Uint8Array(data, 1)], { type: "image/jpeg" });
    const bitmap = await createImageBitmap(jpeg);
    canvas.getContext("2d").drawImage(bitmap, 0, 0, canvas.width, canvas.height);
    if (bitmap.width < canvas.width) showRate(bitmap, jpeg.size);
    bitmap.close();
    canvas.hidden = false;
    canvas.dataset.frames = Number(canvas.dataset.frames) + 1;
  } catch (error) {
    console.warn(`marnox: a ${view.name} frame could not be drawn`, error);
  } finally {
    // The server sends this view's next frame only after this: a slow page skips frames.
    send({ type: "ack", view: view.name });
  }
}

function receive(event) {
  if (typeof event.data !== "string") {
    draw(event.data);
    return;
  }
  const message = JSON.parse(event.data);
  textHandlers[message.type]?.(message);
}

function connect() {
  const url = new URL("ws", location.href);
  url.protocol = location.protocol === "https:" ? "wss:" : "ws:";
  // The token of a view that edits, if the page's address has it.
  const token = new URLSearchParams(location.search).get("token");
  if (token !== null) url.searchParams.set("token", token);
  socket = new WebSocket(url);
  socket.binaryType = "arraybuffer";
  socket.onopen = () => showStatus("live", "live");
  socket.onmessage = receive;
  socket.onclose = (event) => {
    showStatus(`disconnected (${event.reason || event.code}), retrying`, "lost");
    setTimeout(connect, 2000);
  };
}

// Whether a pointer or wheel event belongs to an edit rather than to the camera; editing.js
// sets it on a page that may edit.
let isEditGesture = () => false;

// Mouse moves are summed and sent at most every 16 ms.
const pending = { rotate: [0, 0], pan: [0, 0], zoom: 1 };
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

function steer(canvas) {
  let drag = null;
  canvas.classList.add("steered");

  canvas.addEventListener("pointerdown", (event) => {
    if (event.button !== 0 && event.button !== 1) return;
    if (isEditGesture(event)) return;
    event.preventDefault();
    canvas.setPointerCapture(event.pointerId);
    const mode = event.button === 1 || event.shiftKey ? "pan" : "rotate";
    drag = { mode, x: event.clientX, y: event.clientY };
  });

  canvas.addEventListener("pointermove", (event) => {
    if (!drag) return;
    const box = canvas.getBoundingClientRect();
    pending[drag.mode][0] += (event.clientX - drag.x) / box.width;
    pending[drag.mode][1] += (event.clientY - drag.y) / box.height;
    drag.x = event.clientX;
    drag.y = event.clientY;
    schedule();
  });

  for (const name of ["pointerup", "pointercancel"]) {
    canvas.addEventListener(name, () => {
      drag = null;
    });
  }

  canvas.addEventListener(
    "wheel",
    (event) => {
      if (isEditGesture(event)) return;
      event.preventDefault();
      const lines = event.deltaMode === WheelEvent.DOM_DELTA_LINE ? 40 : 1;
      pending.zoom *= Math.exp((-event.deltaY * lines) / 500);
      schedule();
    },
    { passive: false },
  );

  canvas.addEventListener("dblclick", () => send({ type: "reset" }));
  // The middle button would otherwise start scrolling or paste.
  canvas.addEventListener("mousedown", (event) => {
    if (event.button === 1) event.preventDefault();
  });
  canvas.addEventListener("contextmenu", (event) => event.preventDefault());
}

connect();

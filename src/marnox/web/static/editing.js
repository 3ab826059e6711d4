// Picking on every page; on a page that may edit, the panel and the Ctrl gestures that move
// the selected node. Uses send(), textHandlers and isEditGesture from page.js.
"use strict";

const selectionLine = document.getElementById("selection");
const editor = document.getElementById("editor");
const poseInputs = document.getElementById("pose");
const jointsBox = document.getElementById("joints");
const savedLine = document.getElementById("saved");
const POSE_FIELDS = ["x", "y", "z", "roll", "pitch", "yaw"];
// A press and release closer than this, in CSS pixels, is a click, not a drag.
const CLICK_SLOP = 4;
// Mouse wheel pixels per notch; a line-based wheel gives 3 lines a notch.
const WHEEL_NOTCH_PIXELS = 100;
const WHEEL_NOTCH_LINES = 3;

let canEdit = false;
let selected = null;

function fraction(event, canvas) {
  const box = canvas.getBoundingClientRect();
  return [(event.clientX - box.left) / box.width, (event.clientY - box.top) / box.height];
}

function clamp01(value) {
  return Math.min(Math.max(value, 0), 1);
}

function showSelection(message) {
  const another = message.path !== selected;
  selected = message.path;
  if (message.path === null) {
    selectionLine.textContent = "nothing picked";
  } else {
    const point = message.point.map((value) => value.toFixed(3)).join(", ");
    selectionLine.textContent = `${message.path} at (${point})`;
  }
  selectionLine.dataset.path = message.path ?? "";
  poseInputs.disabled = !canEdit || !message.pose;
  if (message.pose) {
    POSE_FIELDS.forEach((name, index) => {
      const input = poseInputs.elements[name];
      // What a user is typing stays, unless another node was picked.
      if (another || document.activeElement !== input) {
        input.value = Number(message.pose[index].toFixed(4));
      }
    });
  }
  showJoints(message.joints ?? []);
}

function showJoints(joints) {
  const names = joints.map(([name]) => name).join("\n");
  if (jointsBox.dataset.names !== names) {
    jointsBox.dataset.names = names;
    jointsBox.replaceChildren(...joints.map(jointSlider));
  }
  for (const [name, value] of joints) {
    const slider = jointsBox.querySelector(`input[data-joint="${CSS.escape(name)}"]`);
    if (!slider.matches(":active")) slider.value = value;
  }
}

function jointSlider([name, value, low, high]) {
  const label = document.createElement("label");
  const slider = document.createElement("input");
  Object.assign(slider, { type: "range", min: low, max: high, step: (high - low) / 1000, value });
  slider.dataset.joint = name;
  let start = true;
  slider.addEventListener("input", () => {
    send({ type: "joint", path: selected, joint: name, value: Number(slider.value), start });
    start = false;
  });
  slider.addEventListener("change", () => {
    start = true;
  });
  label.append(`${name} `, slider);
  return label;
}

function showEditing(message) {
  canEdit = message.allowed;
  editor.hidden = !canEdit;
  if (message.file === null) {
    document.getElementById("save").disabled = true;
    savedLine.textContent = "no file to save to";
  }
}

function showSaved(message) {
  savedLine.textContent = message.text;
  savedLine.className = message.ok ? "" : "failed";
}

Object.assign(textHandlers, { selection: showSelection, editing: showEditing, saved: showSaved });

isEditGesture = (event) => canEdit && selected !== null && event.ctrlKey;

// A click picks; a Ctrl drag moves the selected node, with shift vertically.
let press = null;
let drag = null;
let dragTimer = null;

function flushDrag() {
  dragTimer = null;
  if (!drag || (drag.sent[0] === drag.at[0] && drag.sent[1] === drag.at[1])) return;
  const [x0, y0] = drag.sent;
  const [x1, y1] = drag.at;
  send({ type: "drag", path: drag.path, x0, y0, x1, y1, vertical: drag.vertical, start: drag.start });
  drag.sent = drag.at;
  drag.start = false;
}

main.addEventListener("pointerdown", (event) => {
  const canvas = event.target;
  if (canvas.id !== "workspace" || event.button !== 0) return;
  press = { x: event.clientX, y: event.clientY };
  if (isEditGesture(event)) {
    event.preventDefault();
    canvas.setPointerCapture(event.pointerId);
    const at = fraction(event, canvas);
    drag = { path: selected, vertical: event.shiftKey, start: true, sent: at, at };
  }
});

main.addEventListener("pointermove", (event) => {
  if (!drag || event.target.id !== "workspace") return;
  drag.at = fraction(event, event.target);
  if (dragTimer === null) dragTimer = setTimeout(flushDrag, 16);
});

main.addEventListener("pointerup", (event) => {
  const canvas = event.target;
  if (drag) {
    clearTimeout(dragTimer);
    flushDrag();
    drag = null;
  }
  if (!press || canvas.id !== "workspace") return;
  const moved = Math.hypot(event.clientX - press.x, event.clientY - press.y);
  press = null;
  if (moved <= CLICK_SLOP && !event.ctrlKey) {
    const [x, y] = fraction(event, canvas).map(clamp01);
    send({ type: "pick", x, y });
  }
});

// Ctrl + wheel turns the selected node about the vertical, a notch at a time.
let notches = 0;
let turnTimer = null;

main.addEventListener(
  "wheel",
  (event) => {
    if (event.target.id !== "workspace" || !isEditGesture(event)) return;
    // Else the browser zooms the page.
    event.preventDefault();
    const perNotch =
      event.deltaMode === WheelEvent.DOM_DELTA_LINE ? WHEEL_NOTCH_LINES : WHEEL_NOTCH_PIXELS;
    notches -= event.deltaY / perNotch;
    if (turnTimer === null) {
      turnTimer = setTimeout(() => {
        turnTimer = null;
        send({ type: "turn", path: selected, notches: Math.min(Math.max(notches, -100), 100) });
        notches = 0;
      }, 16);
    }
  },
  { passive: false },
);

// Enter in a pose input moves the node there.
editor.addEventListener("submit", (event) => event.preventDefault());
poseInputs.addEventListener("keydown", (event) => {
  if (event.key !== "Enter" || selected === null || poseInputs.disabled) return;
  event.preventDefault();
  const message = { type: "pose", path: selected };
  for (const name of POSE_FIELDS) {
    const value = Number(poseInputs.elements[name].value);
    if (!Number.isFinite(value)) return;
    message[name] = value;
  }
  send(message);
  // The inputs follow the node again.
  event.target.blur();
});

function save() {
  savedLine.textContent = "saving";
  savedLine.className = "";
  send({ type: "save" });
}

document.getElementById("save").addEventListener("click", save);

document.addEventListener("keydown", (event) => {
  if (!canEdit || !(event.ctrlKey || event.metaKey)) return;
  const key = event.key.toLowerCase();
  if (key === "s") {
    event.preventDefault();
    save();
  } else if (key === "z" && !(event.target instanceof HTMLInputElement)) {
    event.preventDefault();
    send({ type: "undo" });
  }
});

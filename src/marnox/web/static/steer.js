// The camera's mouse, shared by the web page and the notebook view: turns gestures on the
// workspace canvas into the camera moves of marnox.web.messages (left drag turns, middle or
// shift + left drag pans, the wheel zooms, a double click resets), summed and sent at most
// every 16 ms. skip(event) tells a gesture that belongs to something else (an edit).

function clamp(value, low, high) {
  return Math.min(Math.max(value, low), high);
}

function steerCamera(canvas, send, skip = () => false) {
  const pending = { rotate: [0, 0], pan: [0, 0], zoom: 1 };
  let flushTimer = null;
  let drag = null;

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

  canvas.addEventListener("pointerdown", (event) => {
    if (event.button !== 0 && event.button !== 1) return;
    if (skip(event)) return;
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
      if (skip(event)) return;
      // The page or the notebook would scroll instead.
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

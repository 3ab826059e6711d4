// Draws a marnox View's frames from the kernel and sends back the mouse's camera moves, with
// the messages and gestures of the web page (marnox.web.messages).

function clamp(value, low, high) {
  return Math.min(Math.max(value, low), high);
}

// Turns mouse gestures on the workspace canvas into camera moves, summed and sent at most
// every 16 ms.
function steer(canvas, send) {
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
      // The notebook would scroll instead.
      event.preventDefault();
      const lines = event.deltaMode === WheelEvent.DOM_DELTA_LINE ? 40 : 1;
      pending.zoom *= Math.exp((-event.deltaY * lines) / 500);
      schedule();
    },
    { passive: false },
  );
  canvas.addEventListener("dblclick", () => send({ type: "reset" }));
  canvas.addEventListener("mousedown", (event) => {
    if (event.button === 1) event.preventDefault();
  });
  canvas.addEventListener("contextmenu", (event) => event.preventDefault());
}

// A recording's play/pause button, slider and clock.
function timelineBar(send) {
  const bar = document.createElement("div");
  bar.className = "marnox-timeline";
  const play = document.createElement("button");
  const slider = document.createElement("input");
  const clock = document.createElement("span");
  slider.type = "range";
  slider.min = 0;
  slider.step = "any";
  bar.append(play, slider, clock);
  let playing = false;
  let sliding = false;
  play.addEventListener("click", () => send({ type: playing ? "pause" : "play" }));
  slider.addEventListener("input", () => {
    sliding = true;
    send({ type: "seek", time: Number(slider.value) });
  });
  slider.addEventListener("change", () => {
    sliding = false;
  });
  function show(message) {
    playing = message.playing;
    play.textContent = playing ? "pause" : "play";
    slider.max = message.duration;
    if (!sliding) slider.value = message.time;
    clock.textContent = `${message.time.toFixed(2)} / ${message.duration.toFixed(2)} s`;
  }
  return { bar, show };
}

function render({ model, el }) {
  const send = (message) => model.send(message);
  const root = document.createElement("div");
  root.className = "marnox-view";
  const row = document.createElement("div");
  row.className = "marnox-views";
  root.append(row);
  // One canvas per view at the view's full size, whatever the size of a frame. A canvas
  // counts the frames it drew in its data-frames attribute.
  const views = model.get("_views").map(({ name, size }, index) => {
    const canvas = document.createElement("canvas");
    canvas.className = `marnox-${name}`;
    canvas.title = name;
    [canvas.width, canvas.height] = size;
    canvas.dataset.frames = "0";
    row.append(canvas);
    if (index === 0) steer(canvas, send);
    return { name, canvas, queue: Promise.resolve() };
  });
  const timeline = model.get("_has_timeline") ? timelineBar(send) : null;
  if (timeline) root.append(timeline.bar);
  el.append(root);

  // Decoded off the main thread, drawn on the browser's next paint, then acknowledged: the
  // kernel sends a view's next frame only after that, so a slow browser skips frames.
  function draw(view, buffer, acknowledge = true) {
    view.queue = view.queue.then(async () => {
      try {
        const bitmap = await createImageBitmap(new Blob([buffer], { type: "image/jpeg" }));
        await new Promise((resolve) => requestAnimationFrame(resolve));
        view.canvas.getContext("2d").drawImage(bitmap, 0, 0, view.canvas.width, view.canvas.height);
        bitmap.close();
        if (acknowledge) view.canvas.dataset.frames = Number(view.canvas.dataset.frames) + 1;
      } catch (error) {
        console.warn(`marnox: a ${view.name} frame could not be drawn`, error);
      } finally {
        if (acknowledge) send({ type: "ack", view: view.name });
      }
    });
  }

  // The picture kept in the widget's state, until the kernel sends frames (or for good,
  // in a notebook opened without its kernel).
  const still = model.get("_still");
  if (still && still.byteLength > 0) draw(views[0], still, false);

  function receive(message, buffers) {
    if (message.type === "frame" && views[message.view] && buffers.length === 1) {
      draw(views[message.view], buffers[0]);
    } else if (message.type === "timeline" && timeline) {
      timeline.show(message);
    }
  }
  model.on("msg:custom", receive);
  send({ type: "hello" });
  return () => model.off("msg:custom", receive);
}

export default { render };

// Draws a marnox View's frames from the kernel and sends back the mouse's camera moves, with
// the messages and gestures of the web page (marnox.web.messages); the notebook view puts
// the web page's steer.js before this module.

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
    if (index === 0) steerCamera(canvas, send);
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

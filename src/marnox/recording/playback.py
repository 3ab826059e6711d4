"""Playing a recording back in real time, in windows or to web browsers."""

from __future__ import annotations

import logging
import time as clock

LOG = logging.getLogger("marnox.recording")


def play(recording, project, show, speed=1.0, loop=False):
    """Put the recording into ``project`` as time passes (``speed`` recorded seconds per
    second) and call ``show()`` after each step; returns after the last frame, or never
    when ``loop`` is set."""
    times = recording.times()
    first, last = times[0], times[-1]
    started = clock.monotonic()
    while True:
        now = first + (clock.monotonic() - started) * speed
        if now > last:
            recording.apply(project, last)
            show()
            if not loop:
                return
            started = clock.monotonic()
            continue
        recording.apply(project, now)
        show()


def serve(recording, project, view, timeline, frame_seconds=1 / 30):
    """Keep ``project`` at ``timeline``'s position and ``view`` (a started WebView showing it)
    up to date, until interrupted; while the timeline is paused, wake only for browsers.

    Where the recording is damaged, the project stays as it was and a warning names the
    damage, once: browsers can still go to any other time.
    """
    first = recording.times()[0]
    shown = None
    reported = set()
    while True:
        now = timeline.now()
        if now != shown:
            try:
                recording.apply(project, first + now)
            except ValueError as error:
                if str(error) not in reported:
                    reported.add(str(error))
                    LOG.warning("%s", error)
            shown = now
        view.update()
        if timeline.playing():
            clock.sleep(frame_seconds)
        else:
            view.wait(frame_seconds * 10)

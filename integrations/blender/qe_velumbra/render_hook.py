# SPDX-License-Identifier: GPL-2.0-or-later
"""Render with stars: when a render starts the scene is exported to a
private temporary file; Blender's frames are noted as it writes them, and
when the render completes one `velumbra render` composites the stars into
copies of all of them (Blender's own frames stay as they were). One process
for the render, not one per frame: its start-up costs about as much as
compositing a small frame. The temporary scene is deleted afterwards.
Failures go to the console and to the Qe_Velumbra panel."""

import collections
import os
import subprocess
import tempfile
import threading
import time

import bpy
from bpy.app.handlers import persistent

from . import scene_export

# The messages of the failures of the last render, oldest first.
errors = []

_state = {"scene_file": None, "frames": [], "write_scene": None, "binary": None, "timeout": None}


def composited_pattern(scene):
    """Blender's output pattern and the composited frames' pattern: the
    settings' folder, else beside Blender's frames with the suffix before
    the extension. ExportError when they cannot be composited."""
    s = scene.qe_velumbra
    ext = scene_export.check_format(scene)
    blender = scene_export.output_pattern(scene)
    folder = bpy.path.abspath(s.folder) if s.folder else None
    out = blender.with_folder_and_suffix(folder, s.suffix, ext)
    if os.path.abspath(out.frame_file(1)) == os.path.abspath(blender.frame_file(1)):
        raise scene_export.ExportError("the composited frames would replace Blender's own %s: set a suffix or a folder"
                                       % blender.frame_file(1))
    return blender, out


def frame_list(frames):
    """Frame numbers as velumbra's frame list: runs of consecutive frames
    as ranges, in order."""
    items = []
    for f in sorted(set(frames)):
        if items and items[-1][1] == f - 1:
            items[-1][1] = f
        else:
            items.append([f, f])
    return ",".join(str(a) if a == b else "%d-%d" % (a, b) for a, b in items)


def _frames_named(frames):
    return ("frame %d" % frames[0]) if len(set(frames)) == 1 else "frames " + frame_list(frames)


def composite_frames(scene, frames, binary, scene_file, timeout):
    """Runs one velumbra over the frames Blender wrote; the failure's
    message, or None. The command is one a user could type. `timeout` is
    the seconds velumbra may go without a line of progress before it is
    stopped (a hung command must not hang Blender)."""
    try:
        blender, out = composited_pattern(scene)
    except scene_export.ExportError as e:
        return str(e)
    # The exported scene reads Blender's frames itself (render.image).
    args = [binary, "render", scene_file, "-f", frame_list(frames), "-o", out.velumbra()]
    try:
        run = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               text=True, errors="replace")
    except OSError as e:
        return "cannot run the velumbra command %r: %s (set its path in the add-on's preferences)" % (
            binary, e.strerror)
    # Progress lines (one per title and per frame written) keep it alive;
    # the errors and the last lines make the message.
    failures, last_lines = [], collections.deque(maxlen=3)
    last_line = [time.monotonic()]

    def read():
        for line in run.stderr:
            line = line.rstrip("\n")
            (failures if line.startswith("velumbra: error:") else last_lines).append(line)
            last_line[0] = time.monotonic()

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    while True:
        try:
            status = run.wait(timeout=0.05)
            break
        except subprocess.TimeoutExpired:
            if time.monotonic() - last_line[0] > timeout:
                run.kill()
                run.wait()
                reader.join(1.0)
                return ("velumbra showed no progress for %g s on %s and was stopped "
                        "(raise the timeout in the add-on's preferences if its frames take longer)"
                        % (timeout, _frames_named(frames)))
    reader.join()
    if status != 0:
        return "velumbra failed on %s (exit status %d): %s" % (
            _frames_named(frames), status, " ".join(failures or last_lines))
    return None


def report(message):
    errors.append(message)
    print("Qe_Velumbra: error: " + message)


def _forget_scene_file():
    path = _state["scene_file"]
    _state["scene_file"] = None
    _state["frames"] = []
    if path:
        try:
            os.remove(path)
        except OSError:
            pass


@persistent
def on_render_init(scene, *_):
    errors.clear()
    _forget_scene_file()
    if not scene.qe_velumbra.render_with_stars:
        return
    try:
        composited_pattern(scene)
    except scene_export.ExportError as e:
        report("render with stars: %s" % e)
        return
    # A file of our own (created 0600 under a fresh name): nothing another
    # user left in the temporary folder is read or merged.
    fd, path = tempfile.mkstemp(prefix="qe_velumbra_", suffix=".json")
    _state["scene_file"] = path
    try:
        with os.fdopen(fd, "w") as f:
            _state["write_scene"](scene, f, path)
    except Exception as e:  # the export's message, whatever failed
        report("cannot export the scene for render with stars: %s" % e)
        _forget_scene_file()


@persistent
def on_render_write(scene, *_):
    if _state["scene_file"]:
        _state["frames"].append(scene.frame_current)


@persistent
def on_render_complete(scene, *_):
    if _state["scene_file"] and _state["frames"]:
        message = composite_frames(scene, _state["frames"], _state["binary"](bpy.context), _state["scene_file"],
                                   _state["timeout"](bpy.context))
        if message:
            report(message)
    _forget_scene_file()
    if errors and not bpy.app.background:
        def draw(menu, _context):
            for message in errors[-5:]:
                menu.layout.label(text=message)
        bpy.context.window_manager.popup_menu(draw, title="Qe_Velumbra: render with stars failed", icon='ERROR')


@persistent
def on_render_cancel(scene, *_):
    # A cancelled render composites nothing: the user asked it to stop.
    _forget_scene_file()


_HANDLERS = (("render_init", on_render_init), ("render_write", on_render_write),
             ("render_complete", on_render_complete), ("render_cancel", on_render_cancel))


def register(write_scene, binary, timeout):
    _state["write_scene"] = write_scene
    _state["binary"] = binary
    _state["timeout"] = timeout
    for name, fn in _HANDLERS:
        getattr(bpy.app.handlers, name).append(fn)


def unregister():
    for name, fn in _HANDLERS:
        handlers = getattr(bpy.app.handlers, name)
        if fn in handlers:
            handlers.remove(fn)
    _forget_scene_file()

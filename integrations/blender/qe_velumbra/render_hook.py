# SPDX-License-Identifier: GPL-2.0-or-later
"""Render with stars: after Blender writes each frame, `velumbra render`
composites the stars into a copy of it (Blender's own frame stays as it
was). The scene is exported once per render, beside Blender's temporary
files; failures go to the console and to the Qe_Velumbra panel."""

import os
import subprocess
import tempfile

import bpy
from bpy.app.handlers import persistent

# The messages of the failures of the last render, oldest first.
errors = []

_state = {"scene_file": None, "write_scene": None, "binary": None}


def composited_path(scene, frame_file):
    """Where the composited copy of `frame_file` goes: the settings' folder,
    else beside it with the suffix before the extension."""
    s = scene.qe_velumbra
    head, name = os.path.split(frame_file)
    if s.folder:
        return os.path.join(bpy.path.abspath(s.folder), name)
    stem, ext = os.path.splitext(name)
    return os.path.join(head, stem + s.suffix + ext)


def composite_frame(scene, frame, binary, scene_file):
    """Runs velumbra on the frame Blender wrote; the failure's message, or
    None. The command is the one a user would type."""
    frame_file = bpy.path.abspath(scene.render.frame_path(frame=frame))
    out = composited_path(scene, frame_file)
    if os.path.abspath(out) == os.path.abspath(frame_file):
        return "the composited frame would replace Blender's own %s: set a suffix or a folder" % frame_file
    args = [binary, "render", scene_file, "-f", str(frame), "-o", out, "-q"]
    if not frame_file.lower().endswith(".exr"):
        # The scene names Blender's output only when it is OpenEXR.
        args[4:4] = ["--input", frame_file]
    try:
        run = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    except OSError as e:
        return "cannot run the velumbra command %r: %s (set its path in the add-on's preferences)" % (
            binary, e.strerror)
    if run.returncode != 0:
        return "velumbra failed on frame %d (exit status %d): %s" % (frame, run.returncode, run.stderr.strip())
    return None


def report(message):
    errors.append(message)
    print("Qe_Velumbra: error: " + message)


@persistent
def on_render_init(scene, *_):
    errors.clear()
    _state["scene_file"] = None
    if not scene.qe_velumbra.render_with_stars:
        return
    path = os.path.join(tempfile.gettempdir(), "qe_velumbra_%d_%s.json" % (os.getpid(), bpy.path.clean_name(scene.name)))
    try:
        _state["write_scene"](scene, path)
    except Exception as e:  # the export's message, whatever failed
        report("cannot export the scene for render with stars: %s" % e)
        return
    _state["scene_file"] = path


@persistent
def on_render_write(scene, *_):
    if not scene.qe_velumbra.render_with_stars or not _state["scene_file"]:
        return
    message = composite_frame(scene, scene.frame_current, _state["binary"](bpy.context), _state["scene_file"])
    if message:
        report(message)


@persistent
def on_render_complete(scene, *_):
    if errors and not bpy.app.background:
        def draw(menu, _context):
            for message in errors[-5:]:
                menu.layout.label(text=message)
        bpy.context.window_manager.popup_menu(draw, title="Qe_Velumbra: render with stars failed", icon='ERROR')


def register(write_scene, binary):
    _state["write_scene"] = write_scene
    _state["binary"] = binary
    bpy.app.handlers.render_init.append(on_render_init)
    bpy.app.handlers.render_write.append(on_render_write)
    bpy.app.handlers.render_complete.append(on_render_complete)


def unregister():
    for handlers, fn in ((bpy.app.handlers.render_init, on_render_init),
                         (bpy.app.handlers.render_write, on_render_write),
                         (bpy.app.handlers.render_complete, on_render_complete)):
        if fn in handlers:
            handlers.remove(fn)

# SPDX-License-Identifier: GPL-2.0-or-later
"""A Blender scene as a velumbra scene file (docs/scene-format.md).

Conventions carried over (both are Z-up, both cameras look down local -Z
with +Y up):
  - the camera's world matrix (scale removed) as `matrix` keys at every
    frame of the range: rows 0-2 are the images of the camera's axes (the
    columns of Blender's 3 x 3 part), row 3 its position;
  - its horizontal field of view in degrees, from the lens, sensor size and
    sensor fit;
  - its lens shift, rescaled from the dimension Blender's sensor fit
    follows to the larger frame dimension (the scene format's definition).
"""

import math
import os

class ExportError(Exception):
    """A setting the scene format cannot carry; the message says which."""


def render_size(scene):
    """The rendered frame's size in pixels (percentage applied, as Blender
    rounds it) and the pixel aspect (y / x)."""
    r = scene.render
    width = int(r.resolution_x * r.resolution_percentage / 100)
    height = int(r.resolution_y * r.resolution_percentage / 100)
    return width, height, r.pixel_aspect_y / r.pixel_aspect_x


def scene_fps(scene):
    """Frames per second as the scene format takes it: a whole rate that
    divides 4800 ticks a second. An NTSC rate (24000/1001 = 23.976, 29.97,
    59.94: Blender's fps_base 1.001) takes the ticks of the nearest whole
    rate, as the host does, since the effect's durations are counted in
    frames; any other fractional rate is refused."""
    fps = scene.render.fps / scene.render.fps_base
    nearest = round(fps)
    ntsc = nearest > 0 and abs(fps - nearest * 1000.0 / 1001.0) < 1e-3
    if nearest < 1 or (abs(fps - nearest) > 1e-6 and not ntsc):
        raise ExportError("the frame rate %.6g fps is neither a whole rate nor an NTSC rate (24000/1001 ...)" % fps)
    if 4800 % nearest != 0:
        raise ExportError("the frame rate %d fps does not divide 4800 ticks a second into whole ticks "
                          "(use e.g. 24, 25, 30, 48, 50 or 60)" % nearest)
    return nearest


def camera_fit(camera_data, width, height, aspect):
    """'HORIZONTAL' or 'VERTICAL': the frame dimension the sensor spans, and
    the sensor size along it (mm)."""
    fit = camera_data.sensor_fit
    if fit == 'AUTO':
        # Auto: the sensor width spans the larger dimension.
        return ('HORIZONTAL' if width >= height * aspect else 'VERTICAL'), camera_data.sensor_width
    if fit == 'HORIZONTAL':
        return 'HORIZONTAL', camera_data.sensor_width
    return 'VERTICAL', camera_data.sensor_height


def horizontal_fov(camera_data, width, height, aspect=1.0):
    """The horizontal field of view in degrees of a perspective camera on a
    width x height frame of pixel aspect `aspect` (y / x)."""
    fit, sensor = camera_fit(camera_data, width, height, aspect)
    tan_half = sensor / (2.0 * camera_data.lens)
    if fit == 'VERTICAL':
        tan_half *= width / (height * aspect)
    return math.degrees(2.0 * math.atan(tan_half))


def lens_shift(camera_data, width, height, aspect=1.0):
    """Blender's shift as a fraction of the larger frame dimension."""
    fit, _ = camera_fit(camera_data, width, height, aspect)
    fitted = width if fit == 'HORIZONTAL' else height * aspect
    scale = fitted / max(width, height)
    return [camera_data.shift_x * scale, camera_data.shift_y * scale]


def matrix_rows(matrix_world, what):
    """The scene format's rows of a camera's world matrix, scale removed.
    A matrix that flattens an axis (a zero scale) has no such rows: the
    message says `what` it is."""
    m3 = matrix_world.to_3x3()
    lengths = [m3.col[c].length for c in range(3)]
    if not all(math.isfinite(v) for row in matrix_world for v in row) or min(lengths) < 1e-6 * max(max(lengths), 1e-30):
        raise ExportError("%s has a zero scale on an axis (scale %s): its world matrix is singular"
                          % (what, ", ".join("%g" % v for v in matrix_world.to_scale())))
    m = matrix_world.normalized()
    if abs(m.to_3x3().determinant()) < 1e-3:
        raise ExportError("%s is sheared flat (its axes are nearly parallel): its world matrix is near singular"
                          % what)
    return [[m[0][c], m[1][c], m[2][c]] for c in range(4)]


# Blender's output formats the velumbra command reads (and writes alike).
FORMATS = {'PNG': '.png', 'OPEN_EXR': '.exr', 'OPEN_EXR_MULTILAYER': '.exr'}


def escape_name(text):
    """`text` as a literal part of a velumbra frame pattern."""
    return text.replace('%', '%%').replace('#', '%#')


class FramePattern:
    """A frame pattern by Blender's own naming rule: only the last '#' run
    of the file name is the frame number (4 digits appended when there is
    none); every other '#' and '%' is part of the name. `head` is the text
    before the field (folder included), `tail` the text after it
    (extension included), both as Blender writes them."""

    def __init__(self, head, width, tail):
        self.head, self.width, self.tail = head, width, tail

    def frame_file(self, frame):
        digits = str(abs(frame)).rjust(self.width, '0')
        return self.head + ('-' if frame < 0 else '') + digits + self.tail

    def velumbra(self, relative_to=None):
        """The pattern as velumbra reads it, relative to a folder if given."""
        head = os.path.relpath(self.head + 'x', relative_to)[:-1] if relative_to else self.head
        return escape_name(head) + '#' * self.width + escape_name(self.tail)

    def with_folder_and_suffix(self, folder, suffix, ext):
        """The same frames under another folder (None: the same one), with
        `suffix` before the extension, ending in `ext`."""
        head = self.head
        if folder:
            head = os.path.join(folder, os.path.basename(head))
        # The tail may be the extension alone (shot_###.png).
        stem, end = self.tail, ext
        if self.tail.lower().endswith(ext):
            stem, end = self.tail[:-len(ext)], self.tail[-len(ext):]
        return FramePattern(head, self.width, stem + suffix + end)


def output_pattern(scene):
    """The frames Blender writes for `scene` as a FramePattern: the field's
    width by Blender's rule, its place and the rest of the name (the folder
    as Blender normalises it, the extension it adds or replaces) from
    Blender's own frame_path, checked on a few frames."""
    import bpy
    r = scene.render
    name = os.path.basename(bpy.path.abspath(r.filepath))
    run_end = name.rfind('#') + 1
    width = 4
    if run_end:
        width = run_end - len(name[:run_end].rstrip('#'))
    # Frames 0 and 1 differ in the field's last digit only.
    zero, one = r.frame_path(frame=0), r.frame_path(frame=1)
    diff = [i for i in range(min(len(zero), len(one))) if zero[i] != one[i]]
    pattern = None
    if len(zero) == len(one) and len(diff) == 1 and diff[0] + 1 >= width:
        end = diff[0] + 1
        pattern = FramePattern(zero[:end - width], width, zero[end:])
    if pattern is None or any(pattern.frame_file(f) != r.frame_path(frame=f) for f in (7, 12345, -7, 1048574)):
        raise ExportError("cannot follow Blender's output name %r (frame 1 is written to %r)"
                          % (r.filepath, one))
    return pattern


def check_format(scene):
    """The extension of the scene's output format; ExportError when the
    velumbra command cannot read it."""
    fmt = scene.render.image_settings.file_format
    if fmt not in FORMATS:
        raise ExportError("the output format is %s; velumbra composites PNG and OpenEXR (set Output > File Format)"
                          % fmt)
    return FORMATS[fmt]


def build_scene(scene, params, scene_path):
    """The velumbra scene (a dict) for `scene`, written to `scene_path`
    (relative file names resolve from its folder). `params` are the
    effect's parameters by internal name."""
    camera = scene.camera
    if camera is None or camera.type != 'CAMERA':
        raise ExportError("the scene has no camera")
    if camera.data.type != 'PERSP':
        raise ExportError("the camera %r is %s; only perspective cameras can be exported"
                          % (camera.name, camera.data.type.lower()))
    width, height, aspect = render_size(scene)
    if abs(aspect - 1.0) > 1e-6:
        raise ExportError("the pixel aspect is %g:%g; velumbra renders square pixels only"
                          % (scene.render.pixel_aspect_x, scene.render.pixel_aspect_y))
    fps = scene_fps(scene)

    keys = []
    current = scene.frame_current
    try:
        for frame in range(scene.frame_start, scene.frame_end + 1, max(1, scene.frame_step)):
            scene.frame_set(frame)
            keys.append({
                "frame": frame,
                "matrix": matrix_rows(camera.matrix_world, "the camera %r at frame %d" % (camera.name, frame)),
                "fov": horizontal_fov(camera.data, width, height, aspect),
                "shift": lens_shift(camera.data, width, height, aspect),
            })
    finally:
        scene.frame_set(current)

    render = {"width": width, "height": height, "frame": scene.frame_start, "camera": camera.name}
    if scene.render.image_settings.file_format in FORMATS:
        image = output_pattern(scene).velumbra(os.path.dirname(os.path.abspath(scene_path)))
        render["image"] = image
        if scene.render.image_settings.file_format == 'OPEN_EXR_MULTILAYER':
            layer = next((v for v in scene.view_layers if v.use), None)
            if layer is not None and layer.use_pass_object_index:
                render["objectId"] = image + ":" + layer.name + ".IndexOB.X"
            if layer is not None and layer.use_pass_material_index:
                render["materialId"] = image + ":" + layer.name + ".IndexMA.X"
    return {
        "fps": fps,
        "render": render,
        "nodes": [{"name": camera.name, "type": "camera", "keys": keys}],
        "effects": [{"class": "Qe_Velumbra", "name": "Stars", "params": params}],
    }

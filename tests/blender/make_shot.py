# Builds and renders a small shot in Blender for the velumbra tests:
#   blender -b --factory-startup --python make_shot.py -- OUT_DIR STARS_CSV [SHIFT_X SHIFT_Y [ADDON_DIR VELUMBRA]]
# OUT_DIR receives
#   shot_0001.exr ...   the frames (Cycles, multilayer OpenEXR with the
#                       IndexOB and IndexMA passes, transparent film)
#   cam.chan            the camera, written by Blender's bundled exporter
#   camera.json         the camera per frame: world matrix, horizontal fov,
#                       lens shift, render size
#   projection.csv      Blender's own projection of the star directions of
#                       STARS_CSV (velumbra stars) per frame:
#                       frame,index,x,y with x, y in pixels of a frame that
#                       spans [0, W] x [0, H] from the top left
# With ADDON_DIR (the folder holding qe_velumbra) the shot is two frames,
# rendered with the add-on's "Render with stars" on (VELUMBRA the binary),
# and OUT_DIR also receives
#   addon.json          the add-on's export of the scene
#   shot_0001_stars.exr ...  the frames the add-on composited
#   addon_result.json   {"registered", "errors", "wrong_binary", "defaults",
#                       "draw_modes", "variants", "runs", "temp_left",
#                       "singular", "hung"}: whether the operator registered, the
#                       failures of the render, what a wrong velumbra path
#                       reports, the panel's defaults as parameters, the
#                       apply methods' names, the output formats rendered
#                       with stars (below) and the velumbra runs they
#                       took (arguments, one line each), the files render with stars
#                       left in the temporary folder, what the export says
#                       of a camera scaled to zero, and what a velumbra that
#                       hangs gives
#   variants/<name>/... each accepted output format rendered with stars
#                       (PNG 8-bit RGBA, 16-bit RGB, grey; OpenEXR; OpenEXR
#                       MultiLayer with a view layer "View:Layer"), named as
#                       take#1/v#2_shot_###, with its export <name>.json
import csv
import json
import math
import os
import sys

import addon_utils
import bpy
from bpy_extras.object_utils import world_to_camera_view

argv = sys.argv[sys.argv.index("--") + 1:]
out_dir, stars_csv = argv[0], argv[1]
shift = (float(argv[2]), float(argv[3])) if len(argv) >= 4 else (0.0, 0.0)
addon_dir, velumbra = (argv[4], argv[5]) if len(argv) >= 6 else (None, None)
os.makedirs(out_dir, exist_ok=True)

W, H = 320, 180
FRAMES = (1, 2) if addon_dir else (1, 2, 3)

scene = bpy.context.scene
for obj in list(scene.objects):
    bpy.data.objects.remove(obj, do_unlink=True)

scene.render.engine = 'CYCLES'
scene.cycles.samples = 2
scene.cycles.use_denoising = False
scene.cycles.device = 'CPU'
scene.render.resolution_x, scene.render.resolution_y = W, H
scene.render.resolution_percentage = 100
scene.render.film_transparent = True
scene.render.fps, scene.render.fps_base = 24, 1.0
scene.frame_start, scene.frame_end = FRAMES[0], FRAMES[-1]
settings = scene.render.image_settings
settings.file_format = 'OPEN_EXR_MULTILAYER'
settings.color_depth = '16'
settings.exr_codec = 'ZIP'
layer = scene.view_layers[0]
layer.use_pass_object_index = True
layer.use_pass_material_index = True
scene.render.filepath = os.path.join(out_dir, "shot_####")

# A sphere with pass index 7 (material index 3) in front of the sky.
bpy.ops.mesh.primitive_uv_sphere_add(radius=1.0, location=(1.2, 8.0, 0.3), segments=24, ring_count=12)
sphere = bpy.context.active_object
sphere.pass_index = 7
material = bpy.data.materials.new("Grey")
material.pass_index = 3
sphere.data.materials.append(material)
light = bpy.data.objects.new("Sun", bpy.data.lights.new("Sun", 'SUN'))
scene.collection.objects.link(light)

# A panning camera at the origin with a 60 degree horizontal lens; its
# sensor has the frame's aspect, so that the exporter's vertical fov (from
# the sensor height) is the frame's.
camera_data = bpy.data.cameras.new("Camera")
camera_data.sensor_fit = 'AUTO'
camera_data.sensor_width = 36.0
camera_data.sensor_height = 36.0 * H / W
camera_data.angle = math.radians(60.0)
camera_data.shift_x, camera_data.shift_y = shift
camera = bpy.data.objects.new("Camera", camera_data)
scene.collection.objects.link(camera)
scene.camera = camera
camera.rotation_mode = 'XYZ'
for frame, pan in zip(FRAMES, (-4.0, 5.0, 0.0) if addon_dir else (-4.0, 0.0, 5.0)):
    # Looking along world +Y, turned about world Z, tilted a little.
    camera.rotation_euler = (math.radians(88.0), math.radians(-3.0), math.radians(pan))
    camera.location = (0.0, 0.0, 0.0)
    camera.keyframe_insert("rotation_euler", frame=frame)
    camera.keyframe_insert("location", frame=frame)

# The camera through Blender's bundled .chan exporter (Y up, ZXY).
addon_utils.enable("io_anim_nuke_chan", default_set=True)
bpy.context.view_layer.objects.active = camera
bpy.ops.export.export_chan(filepath=os.path.join(out_dir, "cam.chan"), y_up=True, rotation_order='ZXY')

stars = []
with open(stars_csv) as f:
    for row in csv.DictReader(f):
        stars.append((int(row["index"]), float(row["x"]), float(row["y"]), float(row["z"])))

from mathutils import Vector

cameras = []
with open(os.path.join(out_dir, "projection.csv"), "w") as out:
    out.write("frame,index,x,y\n")
    for frame in FRAMES:
        scene.frame_set(frame)
        m = camera.matrix_world
        cameras.append({
            "frame": frame,
            # Rows as the scene format's matrix: the images of the axes, then
            # the translation (Blender's columns).
            "matrix": [[m[0][c], m[1][c], m[2][c]] for c in range(4)],
            "fov": math.degrees(camera_data.angle_x),
            "shift": [camera_data.shift_x, camera_data.shift_y],
        })
        origin = m.to_translation()
        for index, x, y, z in stars:
            # Stars are directions at infinity: a point far along each.
            p = origin + Vector((x, y, z)).normalized() * 1000.0
            v = world_to_camera_view(scene, camera, p)
            if v.z <= 0:
                continue
            out.write("%d,%d,%.6f,%.6f\n" % (frame, index, v.x * W, (1.0 - v.y) * H))

with open(os.path.join(out_dir, "camera.json"), "w") as f:
    json.dump({"width": W, "height": H, "fps": 24, "frames": cameras}, f, indent=1)

result = {}
if addon_dir:
    # Installed by path: the folder on the module path, enabled as users do.
    sys.path.insert(0, addon_dir)
    import tempfile
    # A private temporary folder: what render with stars leaves is counted.
    tempfile.tempdir = os.path.join(out_dir, "tmp")
    os.makedirs(tempfile.tempdir, exist_ok=True)
    for left in os.listdir(tempfile.tempdir):
        os.remove(os.path.join(tempfile.tempdir, left))
    # A scene file planted where an earlier version wrote its own: never read.
    with open(os.path.join(tempfile.tempdir, "qe_velumbra_%d_Scene.json" % os.getpid()), "w") as f:
        json.dump({"effects": [{"class": "Qe_Velumbra", "params": {"starscount": 0}}]}, f)
    addon_utils.enable("qe_velumbra", default_set=True)
    import qe_velumbra
    from qe_velumbra import render_hook, scene_export
    result["registered"] = hasattr(bpy.ops.export_scene, "qe_velumbra") and \
        bpy.ops.export_scene.qe_velumbra.poll()
    bpy.context.preferences.addons["qe_velumbra"].preferences.velumbra = velumbra
    s = scene.qe_velumbra
    result["defaults"] = s.params()
    result["draw_modes"] = [item[1] for item in qe_velumbra._draw_modes(s, bpy.context)]
    result["sky_defaults"] = s.sky_params()
    result["sky_frames"] = [item[1] for item in qe_velumbra._sky_frames(s, bpy.context)]
    s.count, s.seed = 1500, 11
    s.bright_color = s.dim_color = (1.0, 1.0, 1.0)
    s.bright_size = s.dim_size = 1.5
    s.duration = 0.0
    s.render_with_stars = True
    bpy.ops.export_scene.qe_velumbra(filepath=os.path.join(out_dir, "addon.json"))

bpy.ops.render.render(animation=True)

if addon_dir:
    result["errors"] = list(render_hook.errors)
    result["wrong_binary"] = render_hook.composite_frames(
        scene, [1], os.path.join(out_dir, "no-such-velumbra"), os.path.join(out_dir, "addon.json"), 10.0)

    # Every output format the add-on accepts, under names that hold '#'
    # beside the frame's run; velumbra through a wrapper that logs its runs.
    runs = os.path.join(out_dir, "velumbra-runs.txt")
    if os.path.exists(runs):
        os.remove(runs)
    wrapper = os.path.join(out_dir, "logging-velumbra")
    with open(wrapper, "w") as f:
        f.write('#!/bin/sh\necho "$@" >> \'%s\'\nexec \'%s\' "$@"\n' % (runs, velumbra))
    os.chmod(wrapper, 0o755)
    bpy.context.preferences.addons["qe_velumbra"].preferences.velumbra = wrapper
    variants = {}
    for name, fmt, mode, depth in (("png8", 'PNG', 'RGBA', '8'), ("png16rgb", 'PNG', 'RGB', '16'),
                                   ("grey", 'PNG', 'BW', '8'), ("exr", 'OPEN_EXR', 'RGBA', '16'),
                                   ("layers", 'OPEN_EXR_MULTILAYER', 'RGBA', '32')):
        settings.file_format, settings.color_mode, settings.color_depth = fmt, mode, depth
        if name == "layers":
            layer.name = "View:Layer"
        folder = os.path.join(out_dir, "variants", name)
        os.makedirs(folder, exist_ok=True)
        scene.render.filepath = os.path.join(folder, "take#1", "v#2_shot_###")
        bpy.ops.export_scene.qe_velumbra(filepath=os.path.join(folder, name + ".json"))
        bpy.ops.render.render(animation=True)
        blender_frames, composited = render_hook.composited_pattern(scene)
        variants[name] = {"errors": list(render_hook.errors),
                          "frames": [os.path.relpath(blender_frames.frame_file(f), folder) for f in FRAMES],
                          "composited": [os.path.relpath(composited.frame_file(f), folder) for f in FRAMES]}
    result["variants"] = variants
    with open(runs) as f:
        result["runs"] = f.read().splitlines()
    result["temp_left"] = sorted(os.listdir(tempfile.tempdir))

    # A velumbra that never answers: stopped after the timeout.
    hang = os.path.join(out_dir, "hanging-velumbra")
    with open(hang, "w") as f:
        f.write("#!/bin/sh\nexec sleep 120\n")
    os.chmod(hang, 0o755)
    prefs = bpy.context.preferences.addons["qe_velumbra"].preferences
    prefs.velumbra, prefs.timeout = hang, 1.0
    scene.frame_end = scene.frame_start
    scene.render.filepath = os.path.join(out_dir, "hang", "h_###")
    bpy.ops.render.render(animation=True)
    result["hung"] = list(render_hook.errors)
    prefs.velumbra = velumbra

    # A camera scaled to zero on one axis: refused by the export.
    camera.scale = (0.0, 1.0, 1.0)
    flat = os.path.join(out_dir, "flat.json")
    try:
        # In the background an operator's error report is raised.
        message = "FINISHED: %s" % sorted(bpy.ops.export_scene.qe_velumbra(filepath=flat))
    except RuntimeError as e:
        message = str(e)
    result["singular"] = {"written": os.path.exists(flat), "message": message}
    with open(os.path.join(out_dir, "addon_result.json"), "w") as f:
        json.dump(result, f, indent=1)
print("make_shot: done")

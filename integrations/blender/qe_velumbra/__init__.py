# SPDX-License-Identifier: GPL-2.0-or-later
"""Qe_Velumbra for Blender: export the shot as a velumbra scene, keep the
star settings in the .blend, and composite the stars into the frames of a
render when it completes. See docs/blender.md."""

bl_info = {
    "name": "Qe_Velumbra",
    "author": "Qe_Velumbra developers",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "File > Export > Qe_Velumbra scene (.json); Properties > Render > Qe_Velumbra",
    "description": "Star fields composited into Blender's frames by the velumbra command",
    "category": "Render",
}

import json
import os
import tempfile

import bpy
from bpy.props import BoolProperty, EnumProperty, FloatProperty, FloatVectorProperty, IntProperty, StringProperty
from bpy_extras.io_utils import ExportHelper

from . import effect_block, render_hook, scene_export


def _draw_modes(_self, context):
    """The effect's apply methods (`drawmode`), named as the effect names
    them. Blender keeps no reference to these strings: they stay cached."""
    return effect_block.choices(velumbra_binary(context or bpy.context), "drawmode", 5)


def _sky_frames(_self, context):
    """The effect's world frames for catalogue stars (`skyframe`)."""
    return effect_block.choices(velumbra_binary(context or bpy.context), "skyframe", 2)


class QeVelumbraSettings(bpy.types.PropertyGroup):
    """The effect's most changed parameters, kept with the scene. Every
    other parameter keeps its default, or the value already in the file
    the export writes over."""
    count: IntProperty(name="Count", default=10000, min=0, max=10000000, description="Number of stars")
    seed: IntProperty(name="Seed", default=12345, min=0, max=100000000, description="Seed of the star field")
    bright_color: FloatVectorProperty(name="Bright colour", subtype='COLOR', size=3, min=0.0, max=1.0,
                                      default=(1.0, 1.0, 1.0))
    dim_color: FloatVectorProperty(name="Dim colour", subtype='COLOR', size=3, min=0.0, max=1.0,
                                   default=(0.8, 0.8, 0.8))
    bright_size: FloatProperty(name="Bright size", default=1.5, min=0.0, max=100.0, description="Pixels")
    dim_size: FloatProperty(name="Dim size", default=1.0, min=0.0, max=100.0, description="Pixels")
    draw_mode: EnumProperty(name="Apply method", items=_draw_modes, default=0)
    # Blender's sky has object index 0: the useful mask value.
    use_object_mask: BoolProperty(name="Only on object index", default=False,
                                  description="Draw stars only where the object index pass equals the index")
    object_mask: IntProperty(name="Object index", default=0, min=0, max=255)
    duration: FloatProperty(name="Motion blur", default=0.5, min=0.0, max=100.0,
                            description="Motion-blur duration in frames")
    subdivisions: IntProperty(name="Subdivisions", default=1, min=1, max=1000)
    scintillation: BoolProperty(name="Scintillation", default=False)
    # Hyperspace streaks show only with a depth, and at full strength only
    # with a low dimming (which also dims motion-blur trails).
    hyperspace: BoolProperty(name="Hyperspace", default=False)
    hyperspace_depth: FloatProperty(name="Depth", default=0.0, min=-1.0, max=1.0,
                                    description="Length of the hyperspace streaks (0: none; about 0.5 for a visible warp)")
    dimming: FloatProperty(name="Dimming", default=0.3, min=0.0, max=100.0,
                           description="How much streaks and trails are dimmed (about 0.005 for a bright warp)")
    # The real sky: a catalogue's stars where and as bright as they are
    # seen (docs/sky.md). In the observer frame Blender's world is the
    # local horizon: +X east, +Y north, +Z up.
    catalogue: BoolProperty(name="Catalogue stars", default=False,
                            description="Draw a star catalogue's stars instead of the seeded field (starsource)")
    catalog_file: StringProperty(name="Catalogue", default="/usr/share/kstars/stars.dat", subtype='FILE_PATH',
                                 description="KStars' stars.dat (kstars-data) or the Yale Bright Star Catalogue as "
                                             "xplanet ships it (/usr/share/xplanet/stars/BSC)")
    sky_frame: EnumProperty(name="World frame", items=_sky_frames, default=0,
                            description="Celestial: the world axes are the ICRS axes; Observer: the local horizon "
                                        "at the place and time below")
    observer_time: StringProperty(name="UTC time", default="2000-01-01T12:00:00Z",
                                  description="ISO 8601 UTC date and time, e.g. 2021-01-15T22:00:00Z")
    latitude: FloatProperty(name="Latitude", default=0.0, min=-90.0, max=90.0, precision=4,
                            description="Degrees, north positive")
    longitude: FloatProperty(name="Longitude", default=0.0, min=-180.0, max=180.0, precision=4,
                             description="Degrees, east positive")
    height: FloatProperty(name="Height", default=0.0, min=-500.0, max=100000.0, description="Metres above the ellipsoid")
    ut1_minus_utc: FloatProperty(name="UT1-UTC", default=0.0, min=-1.0, max=1.0, precision=4,
                                 description="Seconds (IERS Bulletin A); 1 s turns the sky by 15 arcseconds")
    magnitude_limit: FloatProperty(name="Faintest magnitude", default=6.5, min=-2.0, max=30.0)
    magnitude_zero: FloatProperty(name="Full-value magnitude", default=6.0, min=-30.0, max=30.0,
                                  description="The magnitude whose star carries exactly full value (1.0)")
    refraction: BoolProperty(name="Refraction", default=False)
    fill_in: BoolProperty(name="Fill in fainter stars", default=False,
                          description="Seeded stars below the catalogue's own limit, down to the faintest "
                                      "magnitude, continuing its counts and its crowding to the Milky Way")
    below_horizon: BoolProperty(name="Below the horizon", default=False,
                                description="Also draw the stars below the horizon")
    render_with_stars: BoolProperty(name="Render with stars", default=False,
                                    description="When the render completes, composite the stars into copies of its frames")
    suffix: StringProperty(name="Suffix", default="_stars",
                           description="Added to each frame's name before its extension")
    folder: StringProperty(name="Folder", default="", subtype='DIR_PATH',
                           description="Write composited frames here instead (empty: beside Blender's)")

    def params(self):
        return {
            "starscount": self.count,
            "seed": self.seed,
            "brightstarscolor": list(self.bright_color),
            "dimstarscolor": list(self.dim_color),
            "brightstarssize": self.bright_size,
            "dimstarssize": self.dim_size,
            "drawmode": int(self.draw_mode),
            "bakobjectidflag": int(self.use_object_mask),
            "bakobjectid": self.object_mask,
            "duration": self.duration,
            "durationsubdivisions": self.subdivisions,
            "scintillationflag": int(self.scintillation),
            "hyperspaceflag": int(self.hyperspace),
            "hyperspacedepth": self.hyperspace_depth,
            "starsdimming": self.dimming,
            "starsource": int(self.catalogue),
            **(self.sky_params() if self.catalogue else {}),
        }

    def sky_params(self):
        """The sky's parameters (written while catalogue stars are on;
        otherwise a file's own values stay)."""
        path = self.catalog_file
        return {
            "catalogfile": bpy.path.abspath(path) if path.startswith("//") else path,
            "skyframe": int(self.sky_frame),
            "observertime": self.observer_time,
            "observerlatitude": self.latitude,
            "observerlongitude": self.longitude,
            "observerheight": self.height,
            "ut1minusutc": self.ut1_minus_utc,
            "magnitudelimit": self.magnitude_limit,
            "magnitudezero": self.magnitude_zero,
            "refractionflag": int(self.refraction),
            "belowhorizonflag": int(self.below_horizon),
            "fillinflag": int(self.fill_in),
        }


def _binary_changed(_self, _context):
    effect_block.forget()


class QeVelumbraPreferences(bpy.types.AddonPreferences):
    bl_idname = __name__
    velumbra: StringProperty(name="velumbra command", default="velumbra", subtype='FILE_PATH',
                             description="The velumbra binary (a name on PATH, or a path)", update=_binary_changed)
    timeout: FloatProperty(name="Timeout", default=300.0, min=1.0, max=86400.0, unit='TIME_ABSOLUTE',
                           description="Seconds velumbra may work without progress before render with stars "
                                       "stops it")

    def draw(self, context):
        self.layout.prop(self, "velumbra")
        self.layout.prop(self, "timeout")


def _preferences(context):
    prefs = context.preferences.addons.get(__name__)
    return prefs.preferences if prefs else None


def velumbra_binary(context):
    prefs = _preferences(context)
    path = prefs.velumbra if prefs else "velumbra"
    return bpy.path.abspath(path) if path.startswith("//") else path


def velumbra_timeout(context):
    prefs = _preferences(context)
    return prefs.timeout if prefs else 300.0


def write_scene(scene, f, filepath, params=None):
    """Writes the velumbra scene of `scene` to the open file `f`, which
    will be at `filepath` (relative names resolve from there); `params`
    the effect's parameters the panel does not set."""
    params = dict(params or {})
    params.update(scene.qe_velumbra.params())
    json.dump(scene_export.build_scene(scene, params, filepath), f, indent=1)
    f.write("\n")


def export_scene(scene, filepath):
    """Writes the velumbra scene of `scene` over `filepath`. Parameters of
    an existing file that the panel does not set keep their values."""
    params = {}
    if os.path.exists(filepath):
        try:
            with open(filepath) as f:
                for effect in json.load(f).get("effects", []):
                    if effect.get("class") == "Qe_Velumbra":
                        params.update(effect.get("params", {}))
        except (OSError, ValueError):
            params = {}
    folder = os.path.dirname(os.path.abspath(filepath))
    fd, tmp = tempfile.mkstemp(prefix=".qe_velumbra_", suffix=".json", dir=folder)
    try:
        with os.fdopen(fd, "w") as f:
            write_scene(scene, f, filepath, params)
        os.chmod(tmp, 0o666 & ~_umask())
        os.replace(tmp, filepath)
    except BaseException:
        os.unlink(tmp)
        raise


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


class EXPORT_SCENE_OT_qe_velumbra(bpy.types.Operator, ExportHelper):
    """Export the scene's camera, frame range and star settings as a velumbra scene"""
    bl_idname = "export_scene.qe_velumbra"
    bl_label = "Export Qe_Velumbra scene"
    filename_ext = ".json"
    filter_glob: StringProperty(default="*.json", options={'HIDDEN'})

    def execute(self, context):
        try:
            export_scene(context.scene, self.filepath)
        except scene_export.ExportError as e:
            self.report({'ERROR'}, "Qe_Velumbra: cannot export: %s" % e)
            return {'CANCELLED'}
        except OSError as e:
            self.report({'ERROR'}, "Qe_Velumbra: cannot write %s: %s" % (self.filepath, e.strerror))
            return {'CANCELLED'}
        self.report({'INFO'}, "Qe_Velumbra: wrote %s" % self.filepath)
        return {'FINISHED'}


class RENDER_PT_qe_velumbra(bpy.types.Panel):
    bl_label = "Qe_Velumbra"
    bl_space_type = 'PROPERTIES'
    bl_region_type = 'WINDOW'
    bl_context = "render"

    def draw(self, context):
        s = context.scene.qe_velumbra
        layout = self.layout
        layout.use_property_split = True
        col = layout.column()
        col.prop(s, "count")
        col.prop(s, "seed")
        col.prop(s, "bright_color")
        col.prop(s, "bright_size")
        col.prop(s, "dim_color")
        col.prop(s, "dim_size")
        col.prop(s, "draw_mode")
        col.prop(s, "use_object_mask")
        sub = col.column()
        sub.active = s.use_object_mask
        sub.prop(s, "object_mask")
        col.prop(s, "duration")
        col.prop(s, "subdivisions")
        col.prop(s, "scintillation")
        col.prop(s, "hyperspace")
        sub = col.column()
        sub.active = s.hyperspace
        sub.prop(s, "hyperspace_depth")
        sub.prop(s, "dimming")
        if s.hyperspace and (s.hyperspace_depth == 0.0 or s.dimming > 0.05):
            hint = col.column(align=True)
            hint.label(text="A visible warp needs a depth (about 0.5)", icon='INFO')
            hint.label(text="and a low dimming (about 0.005).")
        if effect_block.last_error:
            col.label(text=effect_block.last_error, icon='ERROR')
        layout.separator()
        col = layout.column(heading="Sky")
        col.prop(s, "catalogue")
        sky = col.column()
        sky.active = s.catalogue
        sky.prop(s, "catalog_file")
        sky.prop(s, "magnitude_limit")
        sky.prop(s, "magnitude_zero")
        sky.prop(s, "fill_in")
        sky.prop(s, "sky_frame")
        sky.prop(s, "observer_time")
        observer = sky.column()
        observer.active = s.catalogue and s.sky_frame == "1"
        observer.prop(s, "latitude")
        observer.prop(s, "longitude")
        observer.prop(s, "height")
        observer.prop(s, "ut1_minus_utc")
        observer.prop(s, "refraction")
        observer.prop(s, "below_horizon")
        layout.separator()
        col = layout.column()
        col.prop(s, "render_with_stars")
        sub = col.column()
        sub.active = s.render_with_stars
        sub.prop(s, "suffix")
        sub.prop(s, "folder")
        for message in render_hook.errors[-3:]:
            layout.label(text=message, icon='ERROR')
        layout.operator(EXPORT_SCENE_OT_qe_velumbra.bl_idname, text="Export scene...")


def menu_export(self, context):
    self.layout.operator(EXPORT_SCENE_OT_qe_velumbra.bl_idname, text="Qe_Velumbra scene (.json)")


classes = (QeVelumbraSettings, QeVelumbraPreferences, EXPORT_SCENE_OT_qe_velumbra, RENDER_PT_qe_velumbra)


def register():
    for cls in classes:
        bpy.utils.register_class(cls)
    bpy.types.Scene.qe_velumbra = bpy.props.PointerProperty(type=QeVelumbraSettings)
    bpy.types.TOPBAR_MT_file_export.append(menu_export)
    render_hook.register(write_scene, velumbra_binary, velumbra_timeout)


def unregister():
    render_hook.unregister()
    bpy.types.TOPBAR_MT_file_export.remove(menu_export)
    del bpy.types.Scene.qe_velumbra
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)

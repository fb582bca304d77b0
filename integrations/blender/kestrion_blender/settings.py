"""The scene's Kestrion settings and the add-on's preferences."""

import bpy
from bpy.props import BoolProperty, EnumProperty, FloatProperty, IntProperty, PointerProperty, StringProperty

ADDON = __package__


def preferences(context=None):
    """The add-on's preferences, or None while it is not enabled."""
    context = context or bpy.context
    addon = context.preferences.addons.get(ADDON)
    return addon.preferences if addon else None


def switch_on_passes(scene):
    """Turns on the passes the filter reads: Z always, and the index pass
    the source needs, in every view layer that renders."""
    source = scene.kestrion.source
    for layer in scene.view_layers:
        if not layer.use:
            continue
        if not layer.use_pass_z:
            layer.use_pass_z = True
        if source == 'OBJECT' and not layer.use_pass_object_index:
            layer.use_pass_object_index = True
        if source == 'MATERIAL' and not layer.use_pass_material_index:
            layer.use_pass_material_index = True


def _passes_update(self, context):
    if self.enabled and context.scene is not None:
        switch_on_passes(context.scene)


class KestrionPreferences(bpy.types.AddonPreferences):
    bl_idname = ADDON

    program: StringProperty(
        name="Program",
        description="The kestrion program, used when the kestrion Python module does not import "
        "(empty: the one on PATH)",
        subtype='FILE_PATH',
        default="",
    )

    module_folder: StringProperty(
        name="Python Module Folder",
        description="A folder holding the kestrion Python module, such as a build's python folder "
        "(empty: where Python finds it)",
        subtype='DIR_PATH',
        default="",
    )

    def draw(self, context):
        self.layout.prop(self, "module_folder")
        self.layout.prop(self, "program")


class KestrionSettings(bpy.types.PropertyGroup):
    enabled: BoolProperty(
        name="Kestrion",
        description="Filter every rendered frame with Kestrion's depth of field",
        default=False,
        update=_passes_update,
    )
    range: FloatProperty(
        name="Range",
        description="The distance in depth from the focus at which the blur reaches its full size",
        default=10.0,
        min=0.001,
        max=99999.0,
        soft_max=1000.0,
        subtype='DISTANCE',
    )
    size: FloatProperty(
        name="Size",
        description="The full blur radius, in pixels or per cent of the frame's width",
        default=1.0,
        min=0.001,
        max=99999.0,
        soft_max=100.0,
    )
    size_unit: EnumProperty(
        name="Size In",
        items=(
            ('PERCENT', "% of Width", "The blur radius in per cent of the frame's width"),
            ('PIXELS', "Pixels", "The blur radius in pixels"),
        ),
        default='PERCENT',
    )
    focus_from: EnumProperty(
        name="Focus",
        items=(
            ('CAMERA', "Camera", "The active camera's depth-of-field focus object, else its focus distance"),
            ('DISTANCE', "Distance", "A distance in front of the camera"),
            ('OBJECT', "Object", "The depth of an object's origin"),
        ),
        default='CAMERA',
    )
    focus_distance: FloatProperty(
        name="Distance",
        description="The focus distance in front of the camera",
        default=10.0,
        min=0.0,
        max=1e6,
        subtype='DISTANCE',
    )
    focus_object: PointerProperty(
        name="Object",
        description="The object whose origin is in focus",
        type=bpy.types.Object,
    )
    source: EnumProperty(
        name="Blur",
        items=(
            ('WHOLE', "Whole Image", "Blur the whole image"),
            ('MATERIAL', "Material", "Blur only the pixels of a material pass index"),
            ('OBJECT', "Object", "Blur only the pixels of an object pass index"),
        ),
        default='WHOLE',
        update=_passes_update,
    )
    source_id: IntProperty(
        name="Pass Index",
        description="The object or material pass index whose pixels blur",
        default=0,
        min=0,
        max=65535,
    )
    layered: BoolProperty(
        name="Layered Edges",
        description="Filter in depth layers: no halo around sharp objects, and blurred ones spread over what "
                    "lies behind them (slower)",
        default=False,
    )
    output: StringProperty(
        name="Output",
        description="Where filtered frames are written: # marks the frame number, // the blend file's folder",
        default="//kestrion/####.exr",
        subtype='FILE_PATH',
    )

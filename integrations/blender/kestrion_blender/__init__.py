"""Kestrion for Blender: every rendered frame filtered by the Kestrion
depth-of-field filter, with its settings on the scene."""

bl_info = {
    "name": "Kestrion Depth of Field",
    "author": "Kestrion",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Render > Kestrion",
    "description": "Filters every rendered frame with the Kestrion depth-of-field filter",
    "category": "Render",
}

import bpy

from . import operators, panel, render_hooks, settings

_classes = (
    settings.KestrionPreferences,
    settings.KestrionSettings,
    operators.KESTRION_OT_filter_last_render,
    operators.KESTRION_OT_open_studio,
    operators.KestrionLine,
    operators.KESTRION_OT_report,
    panel.KESTRION_PT_render,
)


def register():
    for cls in _classes:
        bpy.utils.register_class(cls)
    bpy.types.Scene.kestrion = bpy.props.PointerProperty(type=settings.KestrionSettings)
    render_hooks.register()


def unregister():
    render_hooks.unregister()
    operators.stop_studios()
    del bpy.types.Scene.kestrion
    for cls in reversed(_classes):
        bpy.utils.unregister_class(cls)

"""The Kestrion panel in Render Properties."""

import bpy


class KESTRION_PT_render(bpy.types.Panel):
    bl_label = "Kestrion"
    bl_space_type = 'PROPERTIES'
    bl_region_type = 'WINDOW'
    bl_context = "render"
    bl_options = {'DEFAULT_CLOSED'}

    def draw_header(self, context):
        self.layout.prop(context.scene.kestrion, "enabled", text="")

    def draw(self, context):
        settings = context.scene.kestrion
        layout = self.layout
        layout.use_property_split = True
        layout.use_property_decorate = True
        layout.active = settings.enabled

        layout.prop(settings, "focus_from")
        if settings.focus_from == 'DISTANCE':
            layout.prop(settings, "focus_distance")
        elif settings.focus_from == 'OBJECT':
            layout.prop(settings, "focus_object")
        else:
            camera = context.scene.camera
            dof = camera.data.dof if camera is not None and camera.type == 'CAMERA' else None
            text = "No active camera"
            if dof is not None:
                text = dof.focus_object.name if dof.focus_object else "%.3g" % dof.focus_distance
            layout.label(text="Focus: " + text, icon='CAMERA_DATA')

        layout.prop(settings, "range")
        row = layout.row(align=True)
        row.prop(settings, "size")
        row.prop(settings, "size_unit", text="")
        layout.prop(settings, "source")
        if settings.source != 'WHOLE':
            layout.prop(settings, "source_id")
        layout.prop(settings, "layered")
        layout.prop(settings, "output")

        row = layout.row(align=True)
        row.operator("kestrion.filter_last_render", icon='FILE_REFRESH')
        row.operator("kestrion.open_studio", icon='URL')

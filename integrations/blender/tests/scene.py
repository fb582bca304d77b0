"""Builds the tests' tiny Cycles scenes inside Blender and saves them:
`blender -b --factory-startup --python scene.py -- KIND OUT.blend FACTS.json`.

The camera looks along +Y from y = -10; a cube, the focus object of the
camera's depth of field, moves away over frames 1 to 3 in front of a wall.
FACTS.json gets the cube's camera-space depth at every frame."""

import json
import math
import sys

import bpy

kind, blend, facts_path = sys.argv[sys.argv.index("--") + 1:][:3]

scene = bpy.context.scene
for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)
scene.render.engine = 'CYCLES'
scene.cycles.device = 'CPU'
scene.cycles.samples = 4
scene.cycles.use_denoising = False
scene.cycles.seed = 1
scene.render.resolution_x, scene.render.resolution_y = 64, 36
scene.render.resolution_percentage = 100
scene.render.use_compositing = False
scene.frame_start, scene.frame_end = 1, 3
scene.render.filepath = "//render/"
settings = scene.render.image_settings
settings.file_format = 'OPEN_EXR_MULTILAYER'
settings.color_depth = '32'
settings.exr_codec = 'ZIP'

camera = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
camera.location = (0.0, -10.0, 0.0)
camera.rotation_euler = (math.pi / 2, 0.0, 0.0)
scene.collection.objects.link(camera)
scene.camera = camera

bpy.ops.mesh.primitive_cube_add(size=1.5, location=(0.0, 0.0, 0.0))
cube = bpy.context.active_object
cube.name = "Cube"
bpy.ops.mesh.primitive_plane_add(size=40.0, location=(0.0, 12.0, 0.0), rotation=(math.pi / 2, 0.0, 0.0))
bpy.data.objects.new("Lamp", bpy.data.lights.new("Lamp", 'SUN'))
sun = bpy.data.objects["Lamp"]
sun.rotation_euler = (0.6, 0.2, 0.3)
scene.collection.objects.link(sun)
scene.world = bpy.data.worlds.new("World")
scene.world.color = (0.05, 0.05, 0.05)

camera.data.dof.focus_object = cube
if kind == "behind":
    # Behind the camera at frame 1, in front at 2, behind at 3: frame 1
    # takes frame 2's focus, frame 3 keeps it.
    for frame, y in ((1, -14.0), (2, 2.0), (3, -14.0)):
        cube.location.y = y
        cube.keyframe_insert("location", frame=frame)
    for curve in cube.animation_data.action.fcurves:
        for key in curve.keyframe_points:
            key.interpolation = 'CONSTANT'
else:
    for frame, y in ((1, 0.0), (3, 4.0)):
        cube.location.y = y
        cube.keyframe_insert("location", frame=frame)

kestrion = scene.kestrion
kestrion.enabled = True
kestrion.size_unit = 'PIXELS'
kestrion.size = 3.0
for frame, value in ((1, 4.0), (3, 12.0)):
    kestrion.range = value
    kestrion.keyframe_insert("range", frame=frame)

facts = {"depth": {}, "range": {}}
for frame in range(scene.frame_start, scene.frame_end + 1):
    scene.frame_set(frame)
    forward = -camera.matrix_world.col[2].xyz.normalized()
    facts["depth"][frame] = forward.dot(cube.matrix_world.translation - camera.matrix_world.translation)
    facts["range"][frame] = kestrion.range
scene.frame_set(1)
bpy.ops.wm.save_as_mainfile(filepath=blend)
with open(facts_path, "w") as facts_file:
    json.dump(facts, facts_file)

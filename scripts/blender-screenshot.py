"""The Blender part of scripts/blender-screenshot, in two steps.

`blender -b --factory-startup --python blender-screenshot.py -- scene OUT.blend`
builds a small scene: a row of balls going away from a camera whose depth
of field focuses on the third one, in front of a wall, Kestrion enabled.

`blender OUT.blend --python blender-screenshot.py -- shot OUT.png`, with a
window (under Xvfb), renders the frame as F12 does, shows the filtered
frame in an Image editor, the Kestrion panel in Render Properties and the
add-on's line in an Info editor, takes a screenshot of the window and
quits."""

import math
import sys

import bpy

step, out_path = sys.argv[sys.argv.index("--") + 1:][:2]


def material(name, color):
    made = bpy.data.materials.new(name)
    made.use_nodes = True
    made.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (*color, 1.0)
    made.diffuse_color = (*color, 1.0)  # the same colour in the viewport
    return made


def build_scene():
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj)
    scene = bpy.context.scene
    scene.render.engine = 'CYCLES'
    scene.cycles.device = 'CPU'
    scene.cycles.samples = 48
    scene.cycles.use_denoising = False
    scene.render.resolution_x, scene.render.resolution_y = 480, 270
    scene.render.resolution_percentage = 100
    scene.render.filepath = "//render/"

    camera = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
    camera.location = (3.0, -9.0, 1.6)
    camera.rotation_euler = (math.radians(84), 0.0, math.radians(16))
    scene.collection.objects.link(camera)
    scene.camera = camera

    colors = ((0.8, 0.1, 0.1), (0.9, 0.5, 0.1), (0.2, 0.7, 0.2), (0.1, 0.4, 0.9), (0.6, 0.2, 0.8))
    balls = []
    for index, color in enumerate(colors):
        bpy.ops.mesh.primitive_uv_sphere_add(radius=0.7, location=(-0.5 + index * 0.4, -5.0 + index * 3.5, 0.7))
        ball = bpy.context.active_object
        ball.name = "Ball %d" % (index + 1)
        bpy.ops.object.shade_smooth()
        ball.data.materials.append(material(ball.name, color))
        balls.append(ball)
    bpy.ops.mesh.primitive_plane_add(size=60.0, location=(0.0, 10.0, 0.0))
    bpy.context.active_object.name = "Floor"
    bpy.context.active_object.data.materials.append(material("Floor", (0.5, 0.5, 0.45)))
    bpy.ops.mesh.primitive_plane_add(size=60.0, location=(0.0, 16.0, 0.0), rotation=(math.pi / 2, 0.0, 0.0))
    bpy.context.active_object.name = "Wall"
    bpy.context.active_object.data.materials.append(material("Wall", (0.35, 0.4, 0.5)))
    bpy.ops.object.select_all(action='DESELECT')
    sun = bpy.data.objects.new("Sun", bpy.data.lights.new("Sun", 'SUN'))
    sun.data.energy = 4.0
    sun.rotation_euler = (math.radians(50), math.radians(10), math.radians(30))
    scene.collection.objects.link(sun)
    scene.world = bpy.data.worlds.new("World")
    scene.world.color = (0.3, 0.35, 0.4)

    camera.data.dof.focus_object = balls[2]
    kestrion = scene.kestrion
    kestrion.enabled = True
    kestrion.range = 6.0
    kestrion.size = 1.5
    bpy.ops.wm.save_as_mainfile(filepath=out_path)


def window():
    return bpy.context.window_manager.windows[0]


def area_of(kind):
    return next(area for area in window().screen.areas if area.type == kind)


def region_of(area):
    return next(region for region in area.regions if region.type == 'WINDOW')


def arrange():
    """The default layout made into: the camera's view over the filtered
    frame on the left, a wider Properties editor on Render, and a taller
    Info editor where the timeline was; a step of the session."""
    screen = window().screen
    properties = area_of('PROPERTIES')
    # Moving an edge needs the pointer off every region: on the edge.
    edge = (properties.x - 1, properties.y + properties.height // 2)
    window().cursor_warp(*edge)
    yield 0.5
    with bpy.context.temp_override(window=window(), screen=screen):
        bpy.ops.screen.area_move(x=edge[0], y=edge[1], delta=-230)
    properties.spaces[0].context = 'RENDER'
    info = area_of('DOPESHEET_EDITOR')
    info.type = 'INFO'
    edge = (info.x + info.width // 2, info.y + info.height)
    window().cursor_warp(*edge)
    yield 0.5
    with bpy.context.temp_override(window=window(), screen=screen):
        bpy.ops.screen.area_move(x=edge[0], y=edge[1], delta=40)
    view = area_of('VIEW_3D')
    with bpy.context.temp_override(window=window(), screen=screen, area=view):
        bpy.ops.screen.area_split(direction='HORIZONTAL', factor=0.5)
    views = sorted((area for area in screen.areas if area.type == 'VIEW_3D'), key=lambda area: area.y)
    views[0].type = 'IMAGE_EDITOR'
    space = views[1].spaces[0]
    space.region_3d.view_perspective = 'CAMERA'
    space.shading.type = 'SOLID'
    space.shading.color_type = 'MATERIAL'
    space.overlay.show_overlays = False
    space.show_gizmo = False


def scroll_to_kestrion():
    properties = area_of('PROPERTIES')
    with bpy.context.temp_override(window=window(), area=properties, region=region_of(properties)):
        for _ in range(20):
            bpy.ops.view2d.scroll_down(page=True)


def show_result():
    image = bpy.data.images.get("Kestrion Result")
    editor = area_of('IMAGE_EDITOR')
    editor.spaces[0].image = image
    with bpy.context.temp_override(window=window(), area=editor, region=region_of(editor)):
        bpy.ops.image.view_all(fit_view=True)
    with bpy.context.temp_override(window=window(), area=area_of('VIEW_3D'), region=region_of(area_of('VIEW_3D'))):
        bpy.ops.view3d.view_center_camera()


def shot_steps():
    from kestrion_blender.panel import KESTRION_PT_render
    # The panel as it is once the user has opened it.
    bpy.utils.unregister_class(KESTRION_PT_render)
    KESTRION_PT_render.bl_options = set()
    bpy.utils.register_class(KESTRION_PT_render)
    bpy.context.preferences.view.render_display_type = 'NONE'
    yield from arrange()
    yield 0.5
    with bpy.context.temp_override(window=window()):
        bpy.ops.render.render('INVOKE_DEFAULT')
    yield 1.0
    waited = 0
    while waited < 600 and (bpy.app.is_job_running('RENDER') or bpy.data.images.get("Kestrion Result") is None):
        waited += 1
        yield 1.0
    yield 1.0  # the add-on's line reaches the info area
    show_result()
    scroll_to_kestrion()
    yield 1.0
    with bpy.context.temp_override(window=window(), screen=window().screen, area=area_of('PROPERTIES')):
        bpy.ops.screen.screenshot(filepath=out_path)


def run(session):
    """One step of the session, from a timer; the next is due in the
    seconds it returns."""
    try:
        return next(session)
    except StopIteration:
        pass
    except Exception as error:
        print("blender-screenshot: %s: %s" % (type(error).__name__, error), file=sys.stderr, flush=True)
    bpy.ops.wm.quit_blender()
    return None


if step == "scene":
    build_scene()
else:
    session = shot_steps()
    bpy.app.timers.register(lambda: run(session), first_interval=1.0)

"""What a person does in a Blender session, run inside `blender -b` on a
saved test scene: `... scene.blend --python actions.py -- ACTION OUT.json`.
OUT.json gets what the add-on's operators returned and left behind."""

import json
import sys
import urllib.request
from http.cookiejar import CookieJar

import bpy

action, out_path = sys.argv[sys.argv.index("--") + 1:][:2]
scene = bpy.context.scene
facts = {}

if action == "again":
    # Render the animation, then filter its last frame again with a new
    # size, in layers.
    bpy.ops.render.render(animation=True)
    scene.kestrion.size = 5.0
    scene.kestrion.layered = True
    facts["result"] = sorted(bpy.ops.kestrion.filter_last_render())
    image = bpy.data.images.get("Kestrion Result")
    facts["image"] = bpy.path.abspath(image.filepath) if image else None
elif action == "no-camera":
    bpy.ops.render.render()
    bpy.data.objects.remove(scene.camera)
    facts["result"] = sorted(bpy.ops.kestrion.filter_last_render())
elif action == "studio":
    bpy.ops.render.render()
    facts["result"] = sorted(bpy.ops.kestrion.open_studio())
    with open(sys.argv[sys.argv.index("--") + 3]) as opened:
        address = opened.read().strip()
    opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(CookieJar()))
    with opener.open(address, timeout=10) as page:
        facts["status"] = page.status
        facts["page"] = page.read(4096).decode(errors="replace")
with open(out_path, "w") as out:
    json.dump(facts, out)

# The README's picture of rocks made by the add-on, rendered by Blender
# headless with Cycles on the CPU.
# usage: blender -b --factory-startup --python readme_picture.py -- PROGRAM ADDON_PARENT OUT.png
import math
import sys

import addon_utils
import bpy

program, parent, out = sys.argv[sys.argv.index("--") + 1:][:3]
sys.path.insert(0, parent)
addon_utils.enable("tavimor_rocks", default_set=True)
bpy.context.preferences.addons["tavimor_rocks"].preferences.program = program
for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj, do_unlink=True)
bpy.context.scene.cursor.location = (-3.6, 3.6, 0)  # the grid about the origin
bpy.ops.mesh.tavimor_rocks(style="rubble", count=9, seed=7, detail=3, shading="auto", origin="base")
bpy.ops.mesh.primitive_plane_add(size=40, location=(0, 0, 0))
bpy.ops.object.camera_add(location=(0, -13, 9), rotation=(math.radians(56), 0, 0))
scene = bpy.context.scene
scene.camera = bpy.context.object
bpy.ops.object.light_add(type='SUN', rotation=(math.radians(40), math.radians(15), math.radians(30)))
bpy.context.object.data.energy = 2.5
scene.world.color = (0.05, 0.05, 0.05)
scene.view_settings.view_transform = 'Standard'
scene.render.engine = 'CYCLES'
scene.cycles.device = 'CPU'
scene.cycles.samples = 48
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = 640, 360
scene.render.filepath = out
bpy.ops.render.render(write_still=True)

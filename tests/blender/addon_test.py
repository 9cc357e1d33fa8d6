# The Blender add-on, driven in a real Blender: the objects it makes
# against the files the program writes for the same options, and its
# failures reported with the scene and the temporary folder left as found.
# usage: blender -b --factory-startup --python addon_test.py -- PROGRAM ADDON_DIR
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

import addon_utils
import bpy

program, addon_source = sys.argv[sys.argv.index("--") + 1:][:2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


# The add-on installed as a user installs it, into scripts of our own.
scripts = tempfile.mkdtemp(prefix="tavimor-scripts-")
shutil.copytree(addon_source, os.path.join(scripts, "addons", "tavimor_rocks"))
sys.path.insert(0, os.path.join(scripts, "addons"))
addon_utils.enable("tavimor_rocks", default_set=True)
prefs = bpy.context.preferences.addons["tavimor_rocks"].preferences
prefs.program = program  # the build under test, whatever PATH holds

# Every temporary folder the add-on makes goes under this one.
temporary = tempfile.mkdtemp(prefix="tavimor-tmp-")
tempfile.tempdir = temporary


def clear_scene():
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj, do_unlink=True)
    for collection in list(bpy.data.collections):
        bpy.data.collections.remove(collection)


def read_obj(path):
    """Each object of an OBJ file: its positions and its faces' count."""
    objects, current = {}, None
    for line in open(path):
        if line.startswith("o "):
            current = line.split()[1]
            objects[current] = {"positions": [], "faces": 0}
        elif line.startswith("v "):
            objects[current]["positions"].append(tuple(float(x) for x in line.split()[1:4]))
        elif line.startswith("f "):
            objects[current]["faces"] += 1
    return objects


def colour_of(mtl):
    for line in open(mtl):
        if line.startswith("Kd "):
            return tuple(float(x) for x in line.split()[1:4])
    return None


def program_files(options):
    folder = tempfile.mkdtemp(prefix="expected-", dir=scripts)
    subprocess.run([program] + options + ["--format", "obj", "--name", "ROCK", "-o", folder, "--quiet"], check=True)
    objects, colour = {}, None
    for name in sorted(os.listdir(folder)):
        if name.endswith(".obj"):
            objects.update(read_obj(os.path.join(folder, name)))
        elif name.endswith(".mtl"):
            colour = colour_of(os.path.join(folder, name))
    return objects, colour


# The operator's values and the program's options they stand for.
CASES = [
    ({"style": "classic", "count": 2, "seed": 11, "detail": 1, "shading": "smooth"},
     ["--style", "classic", "--count", "2", "--seed", "11", "--detail", "1", "--shading", "smooth"]),
    ({"style": "boulder", "count": 3, "seed": 5, "detail": 2, "shading": "auto", "collision": True, "origin": "base"},
     ["--style", "boulder", "--count", "3", "--seed", "5", "--detail", "2", "--shading", "auto", "--collision",
      "--origin", "base"]),
    ({"style": "rubble", "count": 2, "seed": 8, "detail": 1, "shading": "flat", "lod": True},
     ["--style", "rubble", "--count", "2", "--seed", "8", "--detail", "1", "--shading", "flat", "--lod"]),
    ({"style": "shard", "count": 2, "seed": 9, "detail": 2, "shading": "smooth", "textures": "256"},
     ["--style", "shard", "--count", "2", "--seed", "9", "--detail", "2", "--shading", "smooth", "--textures", "256"]),
    ({"style": "slab", "count": 4, "seed": 3, "detail": 1, "shading": "auto", "pack": True, "collision": True,
      "scale": (2.0, 0.1, 1.0)},
     ["--style", "slab", "--count", "4", "--seed", "3", "--detail", "1", "--shading", "auto", "--pack", "--collision",
      "--scale", "2,0.1,1"]),
]

cursor = (1.5, -2.0, 0.25)
for values, options in CASES:
    label = " ".join(options)
    clear_scene()
    bpy.context.scene.cursor.location = cursor
    result = bpy.ops.mesh.tavimor_rocks(**values)
    check(result == {'FINISHED'}, label + ": finished")
    expected, colour = program_files(options + ["--spike", "5"])
    made = {obj.name: obj for obj in bpy.data.objects}
    check(sorted(made) == sorted(expected), label + ": names %s, files %s" % (sorted(made), sorted(expected)))
    for name, want in expected.items():
        obj = made.get(name)
        if obj is None:
            continue
        mesh = obj.data
        check(len(mesh.vertices) == len(want["positions"]), name + ": vertex count")
        check(len(mesh.polygons) == want["faces"], name + ": face count")
        worst = max(max(abs(a - b) for a, b in zip(v.co, p)) for v, p in zip(mesh.vertices, want["positions"]))
        check(worst < 1e-5, name + ": positions as in the file (%g)" % worst)
        hull = name.startswith("UCX_")
        if hull:
            check(obj.display_type == 'WIRE' and obj.hide_render, name + ": a hull, wire and hidden from render")
            continue
        check(not obj.hide_render and obj.display_type != 'WIRE', name + ": a rock, rendered")
        smooth = [p.use_smooth for p in mesh.polygons]
        sharp = sum(e.use_edge_sharp for e in mesh.edges)
        if values["shading"] == "flat":
            check(not any(smooth), name + ": flat")
        else:
            check(all(smooth), name + ": smooth")
            check((sharp > 0) == (values["shading"] == "auto" and values["style"] != "classic"),
                  name + ": %d sharp edges for %s" % (sharp, values["shading"]))
        material = mesh.materials[0] if mesh.materials else None
        check(material is not None and all(abs(a - b) < 1e-4 for a, b in zip(material.diffuse_color, colour)),
              name + ": its material's colour")
        if values.get("textures"):
            # Its maps in its material, kept in the .blend (the folder is
            # gone), the colour map on the base colour, the normal map
            # through a normal map node.
            images = {n.image.name: n for n in material.node_tree.nodes if n.type == 'TEX_IMAGE' and n.image}
            stem = name.replace("Rock", "ROCK")
            for role in ("_basecolor.png", "_normal.png"):
                image = images.get(stem + role)
                check(image is not None, name + ": its map " + role + " (" + ", ".join(images) + ")")
                if image is not None:
                    check(image.image.packed_file is not None, name + ": " + role + " packed into the scene")
                    check(tuple(image.image.size) == (256, 256), name + ": " + role + " of 256 pixels")
            check(any(n.type == 'NORMAL_MAP' for n in material.node_tree.nodes), name + ": a normal map node")
        if values.get("lod"):
            level = name.rsplit("_LOD", 1)[1]
            check([c.name for c in obj.users_collection] == ["ROCK_LOD" + level], name + ": its level's collection")
    # Placement: without a pack the first rock at the cursor, the others in
    # a grid beside it; a pack as the program laid it out, about the cursor.
    rocks = [o for o in made.values() if not o.name.startswith("UCX_")]
    first = min(rocks, key=lambda o: o.name)
    if values.get("pack"):
        check(all(tuple(o.location) == tuple(bpy.context.scene.cursor.location) for o in rocks), label + ": pack at the cursor")
    else:
        check((first.location - bpy.context.scene.cursor.location).length < 1e-6, label + ": first rock at the cursor")
        places = {tuple(round(x, 4) for x in o.location) for o in rocks if "_LOD1" not in o.name}
        check(len(places) == values["count"], label + ": a grid cell a rock")
    check(os.listdir(temporary) == [], label + ": no temporary folder left")

# The tangents the program writes for its normal maps are the ones Blender
# works out itself (MikkTSpace) from the same rock's OBJ: the frame a normal
# map is decoded in is the same in the file and in the modeller.
def glb_tangents(path):
    """Each vertex of a glb's first mesh: (position, uv, normal) -> tangent, sign."""
    import json
    import struct
    data = open(path, "rb").read()
    length = struct.unpack_from("<I", data, 12)[0]
    gltf = json.loads(data[20:20 + length])
    binary = data[20 + length + 8:]
    attributes = gltf["meshes"][0]["primitives"][0]["attributes"]

    def floats(name, width):
        accessor = gltf["accessors"][attributes[name]]
        view = gltf["bufferViews"][accessor["bufferView"]]
        start = view.get("byteOffset", 0)
        values = struct.unpack_from("<%df" % (accessor["count"] * width), binary, start)
        return [values[i:i + width] for i in range(0, len(values), width)]
    out = {}
    for p, t, uv, n in zip(floats("POSITION", 3), floats("TANGENT", 4), floats("TEXCOORD_0", 2), floats("NORMAL", 3)):
        # glTF's v runs down, OBJ's up.
        out[(round(p[0], 4), round(p[1], 4), round(p[2], 4), round(uv[0], 4), round(1 - uv[1], 4),
             round(n[0], 2), round(n[1], 2), round(n[2], 2))] = t
    return out


import math
folder = tempfile.mkdtemp(prefix="tangents-", dir=scripts)
for style, shading in (("boulder", "smooth"), ("shard", "auto")):
    clear_scene()
    subprocess.run([program, "--seed", "17", "--style", style, "--detail", "2", "--shading", shading, "--textures",
                    "128", "--format", "obj,glb", "-o", folder, "--name", style, "--quiet"], check=True)
    bpy.ops.wm.obj_import(filepath=os.path.join(folder, style + "0.obj"), forward_axis='Y', up_axis='Z')
    mesh = [o for o in bpy.data.objects][0].data
    mesh.calc_tangents()
    mesh.calc_normals_split()
    written = glb_tangents(os.path.join(folder, style + "0.glb"))
    uv = mesh.uv_layers.active.data
    angles, sides, missing = [], 0, 0
    for loop in mesh.loops:
        co = mesh.vertices[loop.vertex_index].co
        n = loop.normal
        key = (round(co.x, 4), round(co.y, 4), round(co.z, 4), round(uv[loop.index].uv.x, 4), round(uv[loop.index].uv.y, 4),
               round(n.x, 2), round(n.y, 2), round(n.z, 2))
        t = written.get(key)
        if t is None:
            missing += 1
            continue
        dot = max(-1.0, min(1.0, sum(a * b for a, b in zip(loop.tangent, t[:3]))))
        angles.append(math.degrees(math.acos(dot)))
        sides += loop.bitangent_sign == t[3]
    angles.sort()
    check(missing < len(mesh.loops) / 100, "%s %s: glb vertices found for the OBJ's corners (%d missing)" % (style, shading, missing))
    if angles:
        print("tangents %s %s: Blender's against the file's, median %.3f, largest %.3f degrees"
              % (style, shading, angles[len(angles) // 2], angles[-1]))
        check(angles[len(angles) // 2] < 0.5 and angles[int(len(angles) * 0.99)] < 3,
              "%s %s: Blender's tangents are the file's (median %.3f, 99th percentile %.3f degrees)"
              % (style, shading, angles[len(angles) // 2], angles[int(len(angles) * 0.99)]))
        check(sides == len(angles), "%s %s: the bitangent's side" % (style, shading))

# The redo panel: Blender undoes the last run and runs the operator again
# with the new values, so the new rocks replace the old ones. A seed of -1
# draws a new rock each time. Headless, a script's operator call pushes no
# undo step of its own, so the test pushes the one the window manager
# pushes after an operator run from the menu.
clear_scene()
bpy.context.preferences.edit.undo_steps = 32
bpy.ops.ed.undo_push(message="before the rocks")
bpy.ops.mesh.tavimor_rocks(count=3, seed=1, detail=0, collision=True)
bpy.ops.ed.undo_push(message="Rocks (tavimor)")
check(len(bpy.data.objects) == 6, "the first run's rocks and hulls")
bpy.ops.ed.undo()
bpy.ops.mesh.tavimor_rocks(count=2, seed=-1, detail=0)
bpy.ops.ed.undo_push(message="Rocks (tavimor)")
names = sorted(o.name for o in bpy.data.objects)
check(len(names) == 2 and not any(n.startswith("UCX_") for n in names),
      "the redo's rocks replace the first run's: %s" % names)
first = [tuple(v.co) for v in bpy.data.objects[names[0]].data.vertices]
bpy.ops.ed.undo()
bpy.ops.mesh.tavimor_rocks(count=2, seed=-1, detail=0)
check(len(bpy.data.objects) == 2, "a redo again makes its own rocks only")
check([tuple(v.co) for v in bpy.data.objects[names[0]].data.vertices] != first, "a seed of -1 draws a new one")

# Failures: reported, the scene unchanged, no temporary folder left.
fake = os.path.join(scripts, "fake-tavimor")


def write_fake(version, status, said):
    with open(fake, "w") as f:
        f.write("#!/bin/sh\nif [ \"$1\" = --version ]; then echo 'tavimor %s'; exit 0; fi\n"
                "echo '%s' >&2\nexit %d\n" % (version, said, status))
    os.chmod(fake, 0o755)


FAILURES = [
    ("no program found", "", {"PATH": scripts}, {}, "was not found on PATH"),
    ("no program where the preferences say", os.path.join(scripts, "nothing"), {}, {}, "no program at"),
    ("a bad value", program, {}, {"scale": (1e30, 1.0, 1.0)}, "tavimor: --scale: takes factors from 0.001 to 1000"),
    ("a program too old", fake, {}, {}, "needs 2.0 or later"),
    ("a failed run", fake, {}, {}, "tavimor: ./ROCK0.obj: No space left on device"),
]
for what, path, environment, values, said in FAILURES:
    clear_scene()
    bpy.ops.mesh.primitive_cube_add()
    before = sorted(o.name for o in bpy.data.objects)
    if what == "a program too old":
        write_fake("1.9", 0, "")
    elif what == "a failed run":
        write_fake("2.0", 1, "tavimor: ./ROCK0.obj: No space left on device")
    prefs.program = path
    saved = {k: os.environ.get(k) for k in environment}
    os.environ.update(environment)
    message = ""
    try:
        result = bpy.ops.mesh.tavimor_rocks(count=2, seed=1, **values)
    except RuntimeError as error:  # how Blender hands an operator's error report to a script
        message = str(error)
        result = {'CANCELLED'}
    except Exception:
        message = traceback.format_exc()
        result = None
    for k, v in saved.items():
        if v is None:
            os.environ.pop(k, None)
        else:
            os.environ[k] = v
    check(result == {'CANCELLED'}, what + ": cancelled, not raised (%s)" % message)
    check(said in message and "Traceback" not in message, what + ": reported %r" % message)
    check(sorted(o.name for o in bpy.data.objects) == before, what + ": the scene unchanged")
    check(os.listdir(temporary) == [], what + ": no temporary folder left")
prefs.program = program

# How long making and importing 10 detail-3 rocks takes inside Blender.
clear_scene()
start = time.perf_counter()
bpy.ops.mesh.tavimor_rocks(count=10, seed=2026, detail=3, style="boulder", shading="auto")
print("10 detail-3 boulders made and imported in %.2f s" % (time.perf_counter() - start))

shutil.rmtree(scripts, ignore_errors=True)
shutil.rmtree(temporary, ignore_errors=True)
print("%d failures" % len(failures))
sys.stdout.flush()
os._exit(1 if failures else 0)

# Rocks (tavimor): makes rocks in the scene by running the installed
# tavimor program into a temporary folder and importing what it wrote.

bl_info = {
    "name": "Rocks (tavimor)",
    "author": "tavimor developers",
    "version": (2, 0, 0),
    "blender": (3, 4, 0),
    "location": "View3D > Add > Mesh > Rocks (tavimor)",
    "description": "Random rocks made by the tavimor program, in the scene at the cursor",
    "category": "Add Mesh",
}

import glob
import os
import random
import re
import shutil
import subprocess
import tempfile

import bpy
from bpy.props import BoolProperty, EnumProperty, FloatVectorProperty, IntProperty, StringProperty

# The program's options, in the order it takes them, and the version that
# first took each. A program older than an option is refused before it runs.
OPTION_SINCE = {
    "count": (2, 0), "seed": (2, 0), "spike": (2, 0), "style": (2, 0), "detail": (2, 0), "shading": (2, 0),
    "scale": (2, 0), "origin": (2, 0), "collision": (2, 0), "lod": (2, 0), "pack": (2, 0), "textures": (2, 0),
}
TEXTURES = [("0", "None", "No maps")] + [(str(n), "%d px" % n, "Maps %d pixels square" % n)
                                         for n in (128, 256, 512, 1024, 2048, 4096)]
STYLES = [
    ("classic", "Classic", "As always"),
    ("boulder", "Boulder", "Massive, a few broad broken faces"),
    ("pebble", "Pebble", "Smooth, river-worn"),
    ("slab", "Slab", "A flat plate with broken edges"),
    ("shard", "Shard", "Long, with crisp ridges and dished facets"),
    ("rubble", "Rubble", "Angular, blocky, broken on every side"),
]
# Which styles came with which version: a style a program does not know
# is a bad value to it, so it is checked as an option is.
STYLE_SINCE = {name: (2, 0) for name, _, _ in STYLES}
HULL_PREFIXES = ("UCX_",)
STEM = "ROCK"


class TavimorError(Exception):
    """A failure to tell the user in one line."""


class TavimorPreferences(bpy.types.AddonPreferences):
    bl_idname = __name__

    program: StringProperty(
        name="Program",
        description="The tavimor program to run; empty: the one found on PATH",
        subtype='FILE_PATH',
        default="",
    )

    def draw(self, context):
        self.layout.prop(self, "program")


def program_path(context):
    """The program to run: the one set in the preferences, else tavimor on PATH."""
    prefs = context.preferences.addons.get(__name__)
    chosen = prefs.preferences.program.strip() if prefs else ""
    if chosen:
        chosen = bpy.path.abspath(chosen)
        if not os.path.isfile(chosen) or not os.access(chosen, os.X_OK):
            raise TavimorError('tavimor: no program at "%s" (set in the add-on\'s preferences)' % chosen)
        return chosen
    found = shutil.which("tavimor")
    if not found:
        raise TavimorError("tavimor: the program was not found on PATH; install it or set its path in the add-on's preferences")
    return found


def first_line(text):
    for line in text.splitlines():
        if line.strip():
            return line.strip()
    return ""


def version_of(program):
    try:
        done = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=30, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.SubprocessError) as error:
        raise TavimorError("tavimor: could not run %s: %s" % (program, error))
    found = re.match(r"tavimor (\d+)\.(\d+)", done.stdout)
    if done.returncode != 0 or not found:
        raise TavimorError("tavimor: %s is not a tavimor program this add-on knows (--version said \"%s\")"
                           % (program, first_line(done.stdout + done.stderr)))
    return int(found.group(1)), int(found.group(2))


def arguments(op, seed):
    """The program's options for the operator's values."""
    args = ["--count", str(op.count), "--seed", str(seed), "--spike", str(op.spike), "--style", op.style,
            "--detail", str(op.detail), "--shading", op.shading,
            # A panel's float is single precision: six digits give back what
            # was typed (0.1, not 0.10000000149011612).
            "--scale", ",".join("%.6g" % v for v in op.scale), "--origin", op.origin]
    if op.collision:
        args.append("--collision")
    if op.lod:
        args.append("--lod")
    if op.pack:
        args.append("--pack")
    if op.textures != "0":
        args += ["--textures", op.textures]
    return args


def check_version(version, args, style):
    """Refuses a program older than an option the run passes."""
    for name in (a[2:] for a in args if a.startswith("--")):
        if version < OPTION_SINCE[name]:
            raise TavimorError("tavimor: the program is version %d.%d; --%s needs %d.%d or later"
                               % (version + (name,) + OPTION_SINCE[name]))
    if version < STYLE_SINCE[style]:
        raise TavimorError("tavimor: the program is version %d.%d; the %s style needs %d.%d or later"
                           % (version + (style,) + STYLE_SINCE[style]))


def run_program(program, args, folder):
    command = [program] + args + ["--format", "obj", "--name", STEM, "-o", folder, "--quiet"]
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=600, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.SubprocessError) as error:
        raise TavimorError("tavimor: could not run %s: %s" % (program, error))
    if done.returncode != 0:
        said = first_line(done.stderr) or first_line(done.stdout) or "tavimor: the run failed (status %d)" % done.returncode
        raise TavimorError(said)


def level_of(path):
    found = re.search(r"_LOD(\d+)\.obj$", path)
    return int(found.group(1)) if found else None


def mark_split_edges_sharp(mesh):
    """Marks sharp the edges where the file's normals split, so that the
    rock keeps its shading when its normals are edited or recomputed."""
    if not mesh.has_custom_normals:
        return
    mesh.calc_normals_split()
    at = {}  # (face, vertex) -> the corner's normal
    for poly in mesh.polygons:
        for index in poly.loop_indices:
            loop = mesh.loops[index]
            at[(poly.index, loop.vertex_index)] = loop.normal.copy()
    faces_of = {}
    for poly in mesh.polygons:
        for key in poly.edge_keys:
            faces_of.setdefault(key, []).append(poly.index)
    for edge in mesh.edges:
        faces = faces_of.get(edge.key, [])
        if len(faces) != 2:
            continue
        edge.use_edge_sharp = any((at[(faces[0], v)] - at[(faces[1], v)]).length > 1e-4 for v in edge.vertices)


def import_file(path):
    """Imports one OBJ, returning the objects it made."""
    before = set(bpy.data.objects)
    result = bpy.ops.wm.obj_import(filepath=path)
    if 'FINISHED' not in result:
        raise TavimorError("tavimor: Blender could not import %s" % os.path.basename(path))
    return [o for o in bpy.data.objects if o not in before]


def keep_images(folder):
    """Packs the maps the import read from the folder into the .blend: the
    folder goes once the rocks are in."""
    for image in bpy.data.images:
        path = bpy.path.abspath(image.filepath)
        if path and os.path.dirname(os.path.abspath(path)) == os.path.abspath(folder) and image.packed_file is None:
            image.pack()
            # The normal and the occlusion, roughness and metal maps are
            # data, not colours.
            if not path.endswith("_basecolor.png"):
                image.colorspace_settings.name = 'Non-Color'


def finish_objects(objects, shading):
    for obj in objects:
        if obj.name.startswith(HULL_PREFIXES):
            obj.display_type = 'WIRE'
            obj.hide_render = True
            obj.data.materials.clear()
            continue
        mesh = obj.data
        if shading == 'flat':
            for poly in mesh.polygons:
                poly.use_smooth = False
        elif shading == 'auto':
            mark_split_edges_sharp(mesh)


def spacing_of(groups):
    size = 0.0
    for objects in groups:
        for obj in objects:
            size = max(size, max(obj.dimensions))
    return size * 1.25 if size > 0 else 1.0


def lay_out(context, groups, spacing):
    """Places each rock's objects at the cursor, a grid cell a rock."""
    cursor = context.scene.cursor.location
    columns = max(1, int(len(groups) ** 0.5 + 0.999))
    for i, objects in enumerate(groups):
        row, column = divmod(i, columns)
        for obj in objects:
            obj.location = (cursor.x + column * spacing, cursor.y - row * spacing, cursor.z)


def move_to_collection(context, objects, name):
    collection = bpy.data.collections.new(name)
    context.scene.collection.children.link(collection)
    for obj in objects:
        for owner in list(obj.users_collection):
            owner.objects.unlink(obj)
        collection.objects.link(obj)


def make_rocks(op, context, folder):
    program = program_path(context)
    seed = op.seed if op.seed >= 0 else random.randrange(0, 2 ** 32)
    args = arguments(op, seed)
    check_version(version_of(program), args, op.style)
    run_program(program, args, folder)
    files = sorted(glob.glob(os.path.join(folder, "*.obj")))
    if not files:
        raise TavimorError("tavimor: the run wrote no rocks")
    made = []
    try:
        levels = {}  # level (None without --lod): each file's objects, in the rocks' order
        for path in files:
            objects = import_file(path)
            made += objects
            finish_objects(objects, op.shading)
            levels.setdefault(level_of(path), []).append(objects)
        keep_images(folder)
        if op.pack:
            # The pack as the program laid it out, about the cursor.
            for obj in made:
                obj.location = obj.location + context.scene.cursor.location
        else:
            spacing = spacing_of(levels[min(levels, key=lambda k: k or 0)])
            for groups in levels.values():
                lay_out(context, groups, spacing)
        if None not in levels:
            for level, groups in sorted(levels.items()):
                move_to_collection(context, [obj for objects in groups for obj in objects], "%s_LOD%d" % (STEM, level))
    except Exception:
        for obj in made:
            bpy.data.objects.remove(obj, do_unlink=True)
        raise
    return seed, len(made)


class MESH_OT_tavimor_rocks(bpy.types.Operator):
    """Add random rocks made by the tavimor program"""
    bl_idname = "mesh.tavimor_rocks"
    bl_label = "Rocks (tavimor)"
    bl_options = {'REGISTER', 'UNDO'}

    style: EnumProperty(name="Style", items=STYLES, default="classic")
    count: IntProperty(name="Count", default=1, min=1, soft_max=100)
    seed: IntProperty(name="Seed", description="-1 draws a new one", default=-1, min=-1)
    spike: IntProperty(name="Spike", default=5, min=0, max=9)
    detail: IntProperty(name="Detail", default=2, min=0, max=6)
    shading: EnumProperty(name="Shading", items=[("flat", "Flat", ""), ("smooth", "Smooth", ""), ("auto", "Auto", "")],
                          default="auto")
    scale: FloatVectorProperty(name="Scale", size=3, default=(1.0, 1.0, 1.0), min=1e-6)
    origin: EnumProperty(name="Origin", items=[("centre", "Centre", ""), ("base", "Base", "")], default="centre")
    collision: BoolProperty(name="Collision", default=False)
    lod: BoolProperty(name="LOD", default=False)
    pack: BoolProperty(name="Pack", default=False)
    textures: EnumProperty(name="Textures", items=TEXTURES, default="0",
                           description="Bake colour, normal and roughness maps of this size")

    def execute(self, context):
        try:
            with tempfile.TemporaryDirectory(prefix="tavimor-") as folder:
                seed, made = make_rocks(self, context, folder)
        except TavimorError as error:
            self.report({'ERROR'}, str(error))
            return {'CANCELLED'}
        except Exception as error:  # never a traceback in the user's face
            self.report({'ERROR'}, "tavimor: %s" % error)
            return {'CANCELLED'}
        self.report({'INFO'}, "tavimor: %d objects, seed %d" % (made, seed))
        return {'FINISHED'}


def menu_entry(self, context):
    self.layout.operator(MESH_OT_tavimor_rocks.bl_idname, text="Rocks (tavimor)", icon='MESH_ICOSPHERE')


CLASSES = (TavimorPreferences, MESH_OT_tavimor_rocks)


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.VIEW3D_MT_mesh_add.append(menu_entry)


def unregister():
    bpy.types.VIEW3D_MT_mesh_add.remove(menu_entry)
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)

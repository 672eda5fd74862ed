"""Tests of the it3 import add-on in a real Blender, one case a run:

    blender -b --factory-startup --python-exit-code 1 --python test_addon.py -- \\
        CASE ADDON_ZIP MORVEX SAMPLE_IT3

blender/run_blender.cmake runs each case with user folders of its own (BLENDER_USER_RESOURCES);
the script refuses to run without them, so that it never installs into a real Blender setup.
Each case installs and enables the add-on from the zip first. What an import must give is read
from morvex's own glTF output of the same file, without Blender, and from what the options mean.
"""

import contextlib
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

import addon_utils
import bpy
from mathutils import Vector

ADDON = "io_import_it3"
TOLERANCE = 1e-5


class Context:
    """The paths a case works with: the built zip and morvex, the sample, and a scratch folder
    inside the test's own user folder."""

    def __init__(self, zip_path, morvex, sample):
        self.zip_path = zip_path
        self.morvex = morvex
        self.sample = sample
        self.work = os.path.join(os.environ["BLENDER_USER_RESOURCES"], "work")
        self.inputs = os.path.join(self.work, "inputs")
        # The add-on's temporary folders go here, so that a test sees any it leaves behind.
        self.temp = os.path.join(self.work, "tmp")
        self.infos = []  # the info reports of the last import
        for folder in (self.inputs, self.temp):
            os.makedirs(folder)
        tempfile.tempdir = self.temp

    def input_file(self, name, data=None):
        """A file in the input folder: a copy of the sample, or `data`."""
        path = os.path.join(self.inputs, name)
        if data is None:
            shutil.copyfile(self.sample, path)
        else:
            with open(path, "wb") as file:
                file.write(data)
        return path


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def check_equal(actual, expected, what):
    check(actual == expected, f"{what}: got {actual!r}, expected {expected!r}")


def check_close(actual, expected, what):
    check(
        all(abs(a - e) <= TOLERANCE for a, e in zip(actual, expected)),
        f"{what}: got {actual!r}, expected {expected!r}",
    )


def base_name(name):
    """A Blender name without the .001 that Blender appends when the name is taken."""
    return re.sub(r"\.\d{3}$", "", name)


# What morvex's glTF output holds, read without Blender.


def read_glb(path):
    with open(path, "rb") as file:
        data = file.read()
    json_length, json_type = struct.unpack_from("<II", data, 12)
    check_equal(json_type, 0x4E4F534A, "first chunk of the glb")
    document = json.loads(data[20 : 20 + json_length])
    binary = data[20 + json_length + 8 :]
    return document, binary


def read_indices(document, binary, accessor_index):
    accessor = document["accessors"][accessor_index]
    view = document["bufferViews"][accessor["bufferView"]]
    code = {5121: "B", 5123: "H", 5125: "I"}[accessor["componentType"]]
    offset = view.get("byteOffset", 0) + accessor.get("byteOffset", 0)
    return struct.unpack_from(f"<{accessor['count']}{code}", binary, offset)


def png_size(document, binary, image):
    view = document["bufferViews"][image["bufferView"]]
    return struct.unpack_from(">II", binary, view.get("byteOffset", 0) + 16)


def expected_model(ctx, path):
    """Converts `path` with morvex and describes the glb: morvex's console lines, the objects
    (name, vertices used by its triangles, as Blender keeps them, triangles, material names),
    each material's texture (image name and size), and the bounds of every position in Blender's
    axes (glTF's (x, y, z) is Blender's (x, -z, y))."""
    with tempfile.TemporaryDirectory(dir=ctx.work) as folder:
        result = subprocess.run([ctx.morvex, "-g", path, folder], capture_output=True, text=True)
        written = [line[3:] for line in result.stdout.splitlines() if line.startswith("-> ")]
        model = {"console": result.stdout.splitlines(), "status": result.returncode}
        if result.returncode != 0:
            return model
        document, binary = read_glb(written[0])

    objects = []
    low, high = [float("inf")] * 3, [float("-inf")] * 3
    for node in document.get("nodes", []):
        vertices = faces = 0
        materials = []
        for primitive in document["meshes"][node["mesh"]]["primitives"] if "mesh" in node else []:
            indices = read_indices(document, binary, primitive["indices"])
            vertices += len(set(indices))
            faces += len(indices) // 3
            name = document["materials"][primitive["material"]]["name"]
            if name not in materials:
                materials.append(name)
            position = document["accessors"][primitive["attributes"]["POSITION"]]
            (x0, y0, z0), (x1, y1, z1) = position["min"], position["max"]
            low = [min(a, b) for a, b in zip(low, (x0, -z1, y0))]
            high = [max(a, b) for a, b in zip(high, (x1, -z0, y1))]
        objects.append((node["name"], vertices, faces, materials))

    textures = {}
    for material in document.get("materials", []):
        texture = material.get("pbrMetallicRoughness", {}).get("baseColorTexture")
        if texture is not None:
            image = document["images"][document["textures"][texture["index"]]["source"]]
            textures[material["name"]] = (image["name"], png_size(document, binary, image))
    model.update(objects=sorted(objects), textures=textures, bounds=(low, high))
    return model


def morvex_reports(model, label):
    """The reports the add-on must make of morvex's console lines for the file `label`."""
    reports = []
    for line in model["console"]:
        for prefix, kind in (("Warning : ", "Warning"), ("Error : ", "Error")):
            if line.startswith(prefix):
                reports.append((kind, f"{label}: {line[len(prefix):]}"))
    return reports


def missing_texture_reports(ctx, path, label):
    """The warnings the add-on must add for the textures that `morvex -i --json` finds missing."""
    report = json.loads(
        subprocess.run(
            [ctx.morvex, "-i", "--json", path], capture_output=True, text=True, check=True
        ).stdout
    )
    kinds = {"texture": "texture", "alphaMap": "alpha map"}
    return [
        (
            "Warning",
            f'{label}: material "{m["material"]}" of object "{m["object"]}" names the '
            f'{kinds[m["kind"]]} "{m["name"]}", which the file does not hold',
        )
        for m in report["missingTextures"]
    ]


# What Blender holds after an import.


def imported_model(collection):
    objects = []
    textures = {}
    low, high = [float("inf")] * 3, [float("-inf")] * 3
    for obj in collection.objects:
        if obj.type != "MESH":
            objects.append((base_name(obj.name), 0, 0, []))
            continue
        mesh = obj.data
        materials = [base_name(material.name) for material in mesh.materials]
        objects.append((base_name(obj.name), len(mesh.vertices), len(mesh.polygons), materials))
        for material in mesh.materials:
            for node in material.node_tree.nodes:
                if node.type == "TEX_IMAGE":
                    textures[base_name(material.name)] = (
                        base_name(node.image.name),
                        tuple(node.image.size),
                    )
        # Every placement is a multiple of a quarter turn with a uniform scale, so the corners of
        # the local box give the world bounds exactly.
        for corner in obj.bound_box:
            world = obj.matrix_world @ Vector(corner)
            low = [min(a, b) for a, b in zip(low, world)]
            high = [max(a, b) for a, b in zip(high, world)]
    return {"objects": sorted(objects), "textures": textures, "bounds": (low, high)}


def check_images(images, what):
    """Every image is kept inside the .blend (its file is gone with the temporary folder) and
    holds a picture."""
    for image in images:
        width, height = image.size
        check(
            width > 0 and height > 0 and image.has_data, f"{what}: image {image.name} has no data"
        )
        check(image.packed_file is not None, f"{what}: image {image.name} is not packed")
        pixels = image.pixels[:]
        check_equal(len(pixels), width * height * image.channels, f"{what}: pixels of {image.name}")
        check(min(pixels) < max(pixels), f"{what}: image {image.name} is uniform")


def check_import(model, collection, what, placement=None):
    """The collection holds what the glb holds: the same objects, counts, materials, textures,
    and the bounds mapped by `placement` (Blender's axes as they are by default)."""
    actual = imported_model(collection)
    check_equal(actual["objects"], model["objects"], f"{what}: objects")
    check_equal(actual["textures"], model["textures"], f"{what}: textures")
    low, high = model["bounds"]
    if placement is not None:
        low, high = placement(low), placement(high)
        low, high = [min(a, b) for a, b in zip(low, high)], [max(a, b) for a, b in zip(low, high)]
    check_close(actual["bounds"][0] + actual["bounds"][1], low + high, f"{what}: bounds")


@contextlib.contextmanager
def captured_stdout(lines, folder):
    """Collects what is printed on the standard output (where a background Blender prints the
    reports, as "Warning: ..." lines) into `lines`, and prints it afterwards."""
    sys.stdout.flush()
    saved = os.dup(1)
    with tempfile.TemporaryFile(dir=folder) as capture:
        os.dup2(capture.fileno(), 1)
        try:
            yield
        finally:
            sys.stdout.flush()
            os.dup2(saved, 1)
            os.close(saved)
            capture.seek(0)
            text = capture.read().decode("utf-8", "replace")
            print(text, end="")
            lines.extend(text.splitlines())


def run_import(ctx, operator=None, **options):
    """Runs the import operator. Returns its result (None when the call raised), the error text
    that Blender raised for an error report, and the warning and error reports as (kind, message).
    """
    operator = operator or bpy.ops.import_scene.it3
    inputs_before = sorted(os.listdir(ctx.inputs))
    ctx.infos = []
    lines = []
    result, error = None, None
    with captured_stdout(lines, ctx.work):
        try:
            result = operator(**options)
        except RuntimeError as raised:
            error = str(raised)
    check(error is None or "Traceback" not in error, f"the add-on raised an exception: {error}")
    check_equal(os.listdir(ctx.temp), [], "temporary files left behind")
    check_equal(sorted(os.listdir(ctx.inputs)), inputs_before, "files beside the inputs")
    reports = []
    for line in lines:
        match = re.match(r"(Warning|Error): (.*)", line)
        if match:
            reports.append(match.groups())
        elif line.startswith("Info: "):
            ctx.infos.append(line[len("Info: ") :])
    return result, error, reports


def install_addon(ctx, zip_path=None):
    """Installs the add-on from the zip into this test's user folder and enables it."""
    bpy.ops.preferences.addon_install(filepath=zip_path or ctx.zip_path)
    bpy.ops.preferences.addon_enable(module=ADDON)
    module = sys.modules[ADDON]
    addons = bpy.utils.user_resource("SCRIPTS", path="addons")
    check(
        os.path.commonpath([addons, os.environ["BLENDER_USER_RESOURCES"]])
        == os.environ["BLENDER_USER_RESOURCES"],
        f"add-ons would be installed outside the test's user folder: {addons}",
    )
    check_equal(
        os.path.dirname(os.path.dirname(module.__file__)), addons, "installed add-on folder"
    )
    return module


def preferences():
    return bpy.context.preferences.addons[ADDON].preferences


def new_collection(name, before):
    found = [c for c in bpy.data.collections if c not in before and base_name(c.name) == name]
    check_equal(len(found), 1, f"new collections named {name}")
    return found[0]


# The cases.


def case_install_and_sample(ctx):
    module = install_addon(ctx)
    check(addon_utils.check(ADDON)[1], "the add-on is not enabled")
    with open(os.path.join(os.path.dirname(module.__file__), "LICENSE"), encoding="utf-8") as text:
        check(text.read().startswith("MIT License\n"), "the add-on carries no MIT LICENSE")
    check(hasattr(bpy.types, "IMPORT_SCENE_OT_it3"), "the import operator is not registered")
    check(
        module.menu_import in bpy.types.TOPBAR_MT_file_import._dyn_ui_initialize(),
        "File > Import has no it3 entry",
    )
    preferences().morvex_path = ctx.morvex

    path = ctx.input_file("sample.it3")
    model = expected_model(ctx, path)
    check(len(model["objects"]) > 1 and model["textures"], "the sample gives no textured objects")
    images_before = set(bpy.data.images)
    collections_before = set(bpy.data.collections)
    active = bpy.context.collection
    start = time.perf_counter()
    result, error, reports = run_import(ctx, filepath=path)
    print(f"sample imported in {time.perf_counter() - start:.2f} s")
    check_equal((result, error, reports), ({"FINISHED"}, None, []), "import of the sample")
    check_equal(
        ctx.infos,
        [
            packed_info("sample.it3"),
            "sample.it3: 2 objects, 5 meshes, 213 vertices, 216 triangles, 4 materials, 3 textures",
        ],
        "the summary of the sample's contents",
    )

    collection = new_collection("sample", collections_before)
    report = json.loads(collection["morvex_report"])
    expected_report = subprocess.run(
        [ctx.morvex, "-i", "--json", path], capture_output=True, text=True, check=True
    ).stdout
    check_equal(report, json.loads(expected_report), "the report kept on the collection")
    check(collection.name in active.children, "the collection is not in the active collection")
    check_import(model, collection, "sample")
    new_images = [image for image in bpy.data.images if image not in images_before]
    check_equal(
        sorted(image.name for image in new_images),
        sorted(name for name, size in model["textures"].values()),
        "new images",
    )
    check_images(new_images, "sample")


def case_options(ctx):
    install_addon(ctx)
    preferences().morvex_path = ctx.morvex
    path = ctx.input_file("sample.it3")
    model = expected_model(ctx, path)
    images_before = set(bpy.data.images)
    collections_before = set(bpy.data.collections)
    result, error, reports = run_import(
        ctx, filepath=path, import_textures=False, global_scale=2.0, axis_forward="-Z", axis_up="Y"
    )
    check_equal((result, error, reports), ({"FINISHED"}, None, []), "import with options")

    # Without textures: the same objects and materials, no image and no image node.
    check_equal(
        [image for image in bpy.data.images if image not in images_before], [], "new images"
    )
    model["textures"] = {}
    # Up Y and forward -Z: the stored y becomes Blender's z and the stored z Blender's -y; then
    # everything twice as large.
    check_import(
        model,
        new_collection("sample", collections_before),
        "sample, Y up, scale 2",
        placement=lambda p: [2 * p[0], -2 * p[2], 2 * p[1]],
    )


def cut_inside_block(data, tag):
    """`data` cut in the middle of the payload of its first block tagged `tag`."""
    offset = 0
    while offset + 8 <= len(data):
        size = struct.unpack_from("<I", data, offset + 4)[0]
        if data[offset : offset + 4] == tag:
            return data[: offset + 8 + size // 2]
        offset += 8 + size
    raise AssertionError(f"no {tag} block")


def case_two_files(ctx):
    install_addon(ctx)
    preferences().morvex_path = ctx.morvex
    with open(ctx.sample, "rb") as file:
        cut = cut_inside_block(file.read(), b"VPAC")
    names = ["sample.it3", "sample_cut.it3"]
    paths = [ctx.input_file(names[0]), ctx.input_file(names[1], cut)]
    models = [expected_model(ctx, path) for path in paths]
    expected_reports = morvex_reports(models[1], names[1])
    check(expected_reports, "the cut file gives morvex no warning")
    # The cut loses the textures, so the crate's material names a missing one.
    expected_reports += missing_texture_reports(ctx, paths[1], names[1])

    collections_before = set(bpy.data.collections)
    result, error, reports = run_import(
        ctx, directory=ctx.inputs, files=[{"name": n} for n in names]
    )
    check_equal(
        (result, error, reports), ({"FINISHED"}, None, expected_reports), "import of two files"
    )
    for name, model in zip(names, models):
        stem = os.path.splitext(name)[0]
        check_import(model, new_collection(stem, collections_before), stem)


def case_damaged_files(ctx):
    install_addon(ctx)
    preferences().morvex_path = ctx.morvex
    with open(ctx.sample, "rb") as file:
        sample = file.read()
    # (file name, its bytes or None for a file that does not exist)
    damaged = [
        ("not_it3.it3", b"TEXI" + sample[4:]),
        ("empty.it3", b""),
        ("missing.it3", None),
    ]
    for name, data in damaged:
        path = os.path.join(ctx.inputs, name) if data is None else ctx.input_file(name, data)
        model = expected_model(ctx, path)
        check(model["status"] == 1, f"morvex converts {name}")
        expected_reports = morvex_reports(model, name)
        check(expected_reports, f"morvex reports nothing for {name}")
        objects_before = set(bpy.data.objects)
        collections_before = set(bpy.data.collections)
        result, error, reports = run_import(ctx, filepath=path)
        check_equal(reports, expected_reports, f"reports for {name}")
        # Blender turns an error report into the exception of the operator call.
        check(
            error is not None and expected_reports[-1][1] in error,
            f"error raised for {name}: {error}",
        )
        check_equal(
            [o for o in bpy.data.objects if o not in objects_before], [], f"objects of {name}"
        )
        check_equal(
            [c for c in bpy.data.collections if c not in collections_before],
            [],
            f"collections of {name}",
        )

    # A damaged file among good ones: the good one is imported all the same.
    names = ["not_it3.it3", "sample.it3"]
    ctx.input_file(names[1])
    model = expected_model(ctx, os.path.join(ctx.inputs, names[1]))
    expected_reports = morvex_reports(
        expected_model(ctx, os.path.join(ctx.inputs, names[0])), names[0]
    )
    collections_before = set(bpy.data.collections)
    result, error, reports = run_import(
        ctx, directory=ctx.inputs, files=[{"name": n} for n in names]
    )
    check_equal(reports, expected_reports, "reports for a damaged and a good file")
    check(error is not None and expected_reports[0][1] in error, f"error raised: {error}")
    check_import(
        model, new_collection("sample", collections_before), "sample beside a damaged file"
    )


def case_missing_textures(ctx):
    install_addon(ctx)
    preferences().morvex_path = ctx.morvex
    with open(ctx.sample, "rb") as file:
        sample = file.read()
    # The TEXI block of "crate_wood" renamed: the crate's material names a texture the file
    # does not hold. The conversion itself has nothing to say about that; the report does.
    check_equal(sample.count(b"crate_wood"), 1, "stored copies of the name crate_wood")
    name = "renamed.it3"
    path = ctx.input_file(name, sample.replace(b"crate_wood", b"crate_WOOD"))
    model = expected_model(ctx, path)
    check_equal(morvex_reports(model, name), [], "morvex's warnings for the renamed texture")
    collections_before = set(bpy.data.collections)
    result, error, reports = run_import(ctx, filepath=path)
    check_equal(
        (result, error, reports),
        (
            {"FINISHED"},
            None,
            [
                (
                    "Warning",
                    f'{name}: material "wood" of object "crate" names the texture "crate_wood", '
                    "which the file does not hold",
                )
            ],
        ),
        "import of a model naming a missing texture",
    )
    check_equal(
        ctx.infos,
        [
            packed_info(name),
            f"{name}: 2 objects, 5 meshes, 213 vertices, 216 triangles, 4 materials, 3 textures",
        ],
        "the summary of the model's contents",
    )
    report = json.loads(new_collection("renamed", collections_before)["morvex_report"])
    check_equal(
        report["missingTextures"],
        [{"object": "crate", "material": "wood", "kind": "texture", "name": "crate_wood"}],
        "missing textures in the kept report",
    )


def packed_info(label):
    """The info an import gives while the .blend file is not saved."""
    return (
        f"{label}: the images are packed, as the .blend file is not saved yet; once it is, "
        "File > External Data > Unpack Resources writes them into textures/ beside it"
    )


def blocks_of(data):
    """The blocks of an it3 file as (tag, whole block bytes)."""
    found, offset = [], 0
    while offset + 8 <= len(data):
        size = struct.unpack_from("<I", data, offset + 4)[0]
        found.append((data[offset : offset + 4], data[offset : offset + 8 + size]))
        offset += 8 + size
    return found


def case_images_and_materials(ctx):
    install_addon(ctx)
    preferences().morvex_path = ctx.morvex
    with open(ctx.sample, "rb") as file:
        blocks = blocks_of(file.read())
    infos = [k for k, (tag, _) in enumerate(blocks) if tag == b"INFO"]
    check_equal(len(infos), 2, "objects of the sample")
    crate = [block for _, block in blocks[infos[0] : infos[1]]]
    check(crate[0][8:14] == b"crate\0", "the sample's first object is not the crate")
    # The crate twice: a second object of another name with the same material "wood".
    twin = [crate[0].replace(b"crate\0", b"cratf\0", 1)] + crate[1:]
    rest = [block for _, block in blocks[infos[1] :]]
    path = ctx.input_file("twins.it3", b"".join(crate + twin + rest))
    # The .blend is saved: the images become files beside it.
    blend = os.path.join(ctx.work, "scene.blend")
    bpy.ops.wm.save_as_mainfile(filepath=blend)
    materials_before = set(bpy.data.materials)
    images_before = set(bpy.data.images)
    collections_before = set(bpy.data.collections)
    result, error, reports = run_import(ctx, filepath=path)
    check_equal((result, error, reports), ({"FINISHED"}, None, []), "import of the twins")
    check_equal(
        ctx.infos,
        ["twins.it3: 3 objects, 6 meshes, 237 vertices, 228 triangles, 5 materials, 3 textures"],
        "the summary of the twins",
    )
    collection = new_collection("twins", collections_before)
    by_name = {obj.name: obj for obj in collection.objects}
    check(
        by_name["crate"].data.materials[0] is by_name["cratf"].data.materials[0],
        "the twins do not share their material",
    )
    new_materials = sorted(m.name for m in bpy.data.materials if m not in materials_before)
    check_equal(new_materials, sorted(set(map(base_name, new_materials))), "new materials")
    new_images = [image for image in bpy.data.images if image not in images_before]
    check_equal(len(new_images), 3, "new images")
    for image in new_images:
        check(image.packed_file is None, f"image {image.name} is packed")
        file = bpy.path.abspath(image.filepath)
        check_equal(
            os.path.dirname(file), os.path.join(ctx.work, "textures", "twins"), "image folder"
        )
        with open(file, "rb") as png:
            check(png.read(8) == b"\x89PNG\r\n\x1a\n", f"{file} is not a PNG file")
        width, height = image.size  # loads the file
        check(
            width > 0 and len(image.pixels) == width * height * image.channels,
            f"image {image.name} has no data",
        )

    # Packed on request.
    images_before = set(bpy.data.images)
    result, error, reports = run_import(ctx, filepath=path, image_files="PACK")
    check_equal((result, error, reports), ({"FINISHED"}, None, []), "packed import")
    check_images([i for i in bpy.data.images if i not in images_before], "packed twins")

    # One object, in the singular; then a file without any object: a warning, nothing made.
    crate_only = b"".join(crate + [block for tag, block in blocks if tag == b"TEXI"][:1])
    result, error, reports = run_import(ctx, filepath=ctx.input_file("crate.it3", crate_only))
    check_equal(result, {"FINISHED"}, "import of the crate alone")
    check_equal(
        ctx.infos[-1],
        "crate.it3: 1 object, 1 mesh, 24 vertices, 12 triangles, 1 material, 1 texture",
        "the summary of one object",
    )
    empty = b"INFO" + struct.pack("<I", 6) + b"empty\0"
    objects_before = set(bpy.data.objects)
    collections_before = set(bpy.data.collections)
    result, error, reports = run_import(ctx, filepath=ctx.input_file("none.it3", empty))
    check_equal(
        (result, error, reports),
        (
            {"CANCELLED"},
            None,
            [("Warning", "none.it3: the file holds no object that can be imported")],
        ),
        "import of a file without objects",
    )
    check_equal([o for o in bpy.data.objects if o not in objects_before], [], "objects made")
    check_equal(
        [c for c in bpy.data.collections if c not in collections_before], [], "collections made"
    )


def case_finding_programs(ctx):
    install_addon(ctx)
    path = ctx.input_file("sample.it3")
    no_morvex = os.path.join(ctx.work, "empty-path")
    with_morvex = os.path.join(ctx.work, "morvex-path")
    os.makedirs(no_morvex)
    os.makedirs(with_morvex)
    os.symlink(ctx.morvex, os.path.join(with_morvex, "morvex"))
    missing = os.path.join(ctx.work, "nowhere", "morvex")

    # (preference, PATH, how the operator is called, the error it must report or None)
    routes = [
        ("", with_morvex, "EXEC_DEFAULT", None),
        ("", no_morvex, "EXEC_DEFAULT", "morvex was not found"),
        ("", no_morvex, "INVOKE_DEFAULT", "morvex was not found"),
        (missing, with_morvex, "EXEC_DEFAULT", f"does not exist: {missing}"),
    ]
    for preference, search_path, call, expected_error in routes:
        what = f"morvex preference {preference!r}, PATH {search_path}, {call}"
        preferences().morvex_path = preference
        os.environ["PATH"] = search_path
        collections_before = set(bpy.data.collections)
        result, error, reports = run_import(
            ctx, lambda **o: bpy.ops.import_scene.it3(call, **o), filepath=path
        )
        if expected_error is None:
            check_equal((result, error), ({"FINISHED"}, None), what)
            new_collection("sample", collections_before)
        else:
            check(error is not None and expected_error in error, f"{what}: raised {error!r}")
            check_equal(len(reports), 1, f"{what}: reports")
        if expected_error == "morvex was not found":
            # The message says where to set the program.
            check("Preferences" in error and "PATH" in error, f"{what}: unclear message {error!r}")

    # Without numpy, which Blender's glTF importer needs, or without the importer itself, the
    # add-on says what to install or enable instead of failing on the call.
    preferences().morvex_path = ctx.morvex
    numpy = sys.modules.get("numpy")
    sys.modules["numpy"] = None  # what an import of a missing module meets
    result, error, reports = run_import(ctx, filepath=path)
    check(error is not None and "python3-numpy" in error, f"without numpy: {error}")
    sys.modules["numpy"] = numpy
    addon_utils.disable("io_scene_gltf2")
    result, error, reports = run_import(ctx, filepath=path)
    check(
        error is not None and "glTF" in error and "Preferences" in error,
        f"without the glTF importer: {error}",
    )


def case_bundled_morvex(ctx):
    # A zip with morvex inside, as the build makes it with MORVEX_BLENDER_BUNDLE_BINARY: the
    # installer drops the execute permission, which the add-on restores.
    bundled_zip = os.path.join(ctx.work, "bundled.zip")
    with zipfile.ZipFile(ctx.zip_path) as source, zipfile.ZipFile(bundled_zip, "w") as target:
        for item in source.infolist():
            target.writestr(item, source.read(item))
        binary = zipfile.ZipInfo(f"{ADDON}/morvex")
        binary.external_attr = (stat.S_IFREG | 0o755) << 16
        with open(ctx.morvex, "rb") as file:
            target.writestr(binary, file.read())
    module = install_addon(ctx, bundled_zip)
    check(os.access(module.BUNDLED_MORVEX, os.X_OK), "the bundled morvex is not executable")

    os.environ["PATH"] = ""
    collections_before = set(bpy.data.collections)
    result, error, reports = run_import(ctx, filepath=ctx.input_file("sample.it3"))
    check_equal(
        (result, error, reports), ({"FINISHED"}, None, []), "import with the bundled morvex"
    )
    new_collection("sample", collections_before)


def it3_blocks(path):
    """The (tag, payload) of every block of an it3 file."""
    with open(path, "rb") as file:
        data = file.read()
    blocks, offset = [], 0
    while offset + 8 <= len(data):
        size = struct.unpack_from("<I", data, offset + 4)[0]
        blocks.append((data[offset : offset + 4], data[offset + 8 : offset + 8 + size]))
        offset += 8 + size
    return blocks


def run_export(ctx, **options):
    """Runs the export operator: its result (None when it raised), the error Blender raised, and
    the warning and error reports."""
    lines = []
    result, error = None, None
    with captured_stdout(lines, ctx.work):
        try:
            result = bpy.ops.export_scene.it3(**options)
        except RuntimeError as raised:
            error = str(raised)
    check(error is None or "Traceback" not in error, f"the add-on raised an exception: {error}")
    check_equal(os.listdir(ctx.temp), [], "temporary files left behind")
    reports = [m.groups() for m in map(re.compile(r"(Warning|Error): (.*)").match, lines) if m]
    return result, error, reports


def select_only(objects):
    for obj in bpy.context.view_layer.objects:
        obj.select_set(obj in objects)


def imported_file(ctx, path, name):
    """Imports `path` through the add-on: the collection it made, named `name`."""
    collections_before = set(bpy.data.collections)
    check_equal(run_import(ctx, filepath=path), ({"FINISHED"}, None, []), f"import of {path}")
    return new_collection(name, collections_before)


def case_export_round_trip(ctx):
    # Import, move a vertex, repaint a texture, export, import what was written: the edit is
    # there, and the blocks of everything else are the original's.
    install_addon(ctx)
    preferences().morvex_path = ctx.morvex
    path = ctx.input_file("sample.it3")
    collection = imported_file(ctx, path, "sample")
    crate = next(obj for obj in collection.objects if base_name(obj.name) == "crate")
    vertex = crate.data.vertices[0]
    vertex.co.z += 0.25
    moved = crate.matrix_world @ vertex.co
    image = next(n.image for n in crate.data.materials[0].node_tree.nodes if n.type == "TEX_IMAGE")
    pixels = list(image.pixels)
    pixels[0:4] = [1.0, 0.0, 0.0, 1.0]  # the bottom left pixel
    image.pixels = pixels
    image.update()

    select_only([crate])
    edited = os.path.join(ctx.work, "edited.it3")
    check_equal(run_export(ctx, filepath=edited), ({"FINISHED"}, None, []), "export")
    before, after = it3_blocks(path), it3_blocks(edited)
    check_equal([tag for tag, _ in after], [tag for tag, _ in before], "the blocks written")
    changed = [tag for (tag, old), (_, new) in zip(before, after) if old != new]
    check_equal(changed, [b"VPA5", b"TEXI"], "the blocks that changed")

    again = imported_file(ctx, edited, "edited")
    crate = next(obj for obj in again.objects if base_name(obj.name) == "crate")
    check(
        any((crate.matrix_world @ v.co - moved).length < TOLERANCE for v in crate.data.vertices),
        "the moved vertex is not where it was moved to",
    )
    image = next(n.image for n in crate.data.materials[0].node_tree.nodes if n.type == "TEX_IMAGE")
    check_close(image.pixels[0:3], [1.0, 0.0, 0.0], "the repainted pixel")


def case_export_refused(ctx):
    install_addon(ctx)
    preferences().morvex_path = ctx.morvex
    path = ctx.input_file("sample.it3")
    collection = imported_file(ctx, path, "sample")
    target = os.path.join(ctx.work, "out.it3")

    bpy.ops.mesh.primitive_cube_add()
    select_only([bpy.context.active_object])
    result, error, _ = run_export(ctx, filepath=target)
    check(result is None and "do not come from an it3 file" in error, f"a new cube: {error}")

    select_only(list(collection.objects))
    os.remove(path)
    result, error, _ = run_export(ctx, filepath=target)
    check(result is None and "is gone" in error, f"a deleted source: {error}")
    check(not os.path.exists(target), "a file was written")


CASES = {name[len("case_") :]: case for name, case in globals().items() if name.startswith("case_")}


def main():
    arguments = sys.argv[sys.argv.index("--") + 1 :]
    if "BLENDER_USER_RESOURCES" not in os.environ:
        raise SystemExit(
            "run through blender/run_blender.cmake, which gives Blender user folders of its own"
        )
    case, zip_path, morvex, sample = arguments
    CASES[case](Context(zip_path, morvex, sample))
    print(f"blender_addon.{case}: passed")


main()

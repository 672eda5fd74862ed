"""File > Import > it3 (.it3): it3 models in Blender, with their materials and textures; and
File > Export > it3 (.it3): the edited objects back into an it3 file.

Each chosen file is converted by the morvex program into one binary glTF file in a temporary
folder, which Blender's own glTF importer then reads; the objects of each file are put into a
collection named after the file. Everything about the model comes from morvex: this add-on only
runs it, relays its messages and its report of what the file holds, and places what the glTF
importer made. The export goes the other way: Blender's glTF exporter writes the objects of an
imported collection into a temporary folder, and `morvex --pack` puts them back into the file
they came from.
"""

bl_info = {
    "name": "it3 format (morvex)",
    "author": "morvex developers",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "File > Import > it3 (.it3), File > Export > it3 (.it3)",
    "description": "Import it3 models with their materials and textures, and export edits back "
    "into them, converted by morvex",
    "category": "Import-Export",
}

import contextlib
import json
import os
import shutil
import stat
import subprocess
import tempfile
import threading
import time

import bpy
from bpy.props import (
    BoolProperty,
    CollectionProperty,
    EnumProperty,
    FloatProperty,
    IntProperty,
    StringProperty,
)
from bpy.types import AddonPreferences, Operator, OperatorFileListElement
from bpy_extras.io_utils import (
    ExportHelper,
    ImportHelper,
    axis_conversion,
    axis_conversion_ensure,
    orientation_helper,
)
from mathutils import Matrix

MORVEX_FILE_NAME = "morvex.exe" if os.name == "nt" else "morvex"
# A morvex inside the add-on folder: the zip built with the binary puts it there.
BUNDLED_MORVEX = os.path.join(os.path.dirname(os.path.abspath(__file__)), MORVEX_FILE_NAME)
# On Windows morvex is a console program: run from Blender it would open a console window of its
# own for every file unless told not to. Its arguments and output are Unicode either way (it
# reads the wide command line and writes UTF-8 when its output is a pipe).
NO_WINDOW = {"creationflags": subprocess.CREATE_NO_WINDOW} if os.name == "nt" else {}

NOT_FOUND_HELP = (
    "morvex was not found. Set the morvex program in Edit > Preferences > Add-ons > "
    '"Import-Export: it3 format (morvex)", or install morvex on the PATH.'
)
GLTF_OFF_HELP = (
    'Blender\'s glTF importer is off: enable "Import-Export: glTF 2.0 format" in '
    "Edit > Preferences > Add-ons."
)
NUMPY_MISSING_HELP = (
    "Blender's glTF importer needs numpy, which Blender's Python can not import "
    "(on Debian and Ubuntu, install python3-numpy)."
)


# At most this many of morvex's warnings (and as many errors) are relayed for one file; the rest
# are counted in one line. morvex itself prints at most 20 of a kind and one line for the rest.
RELAYED_MESSAGES = 10
# The most of morvex's report (-i --json) that is read; a larger one is left out.
LARGEST_REPORT = 64 << 20


class MorvexNotFound(Exception):
    """No morvex program to run; the message says what the user can do."""


class MorvexRun:
    """One run of morvex, in the background. Its standard output is read as it comes and only
    what the add-on uses is kept: the files it wrote ("-> " lines), the first RELAYED_MESSAGES
    warnings and errors with the count of the others, and, with `keep_output`, the whole text
    up to LARGEST_REPORT bytes. A run still going after `time_limit` seconds is ended."""

    def __init__(self, morvex, arguments, time_limit, keep_output=False):
        self.keep_output = keep_output
        self.written = []
        self.messages = []  # ("WARNING" or "ERROR", text) in the order printed
        self.counts = {"WARNING": 0, "ERROR": 0}
        self.lock = threading.Lock()
        self.output_parts, self.output_size = [], 0
        self.last_error_line = ""
        self.timed_out = False
        self.time_limit = time_limit
        self.deadline = time.monotonic() + time_limit
        self.process = subprocess.Popen(
            [morvex, *arguments],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            **NO_WINDOW,
        )
        self.readers = [
            threading.Thread(target=self._read_output, daemon=True),
            threading.Thread(target=self._read_errors, daemon=True),
        ]
        for reader in self.readers:
            reader.start()

    def _read_output(self):
        for raw in self.process.stdout:
            if self.keep_output:
                self.output_size += len(raw)
                if self.output_size <= LARGEST_REPORT:
                    self.output_parts.append(raw)
                else:
                    self.output_parts = []
                continue
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if line.startswith("-> "):
                self.written.append(line[len("-> ") :])
            else:
                self._message(line)

    def _read_errors(self):
        # The option form (--pack) prints its warnings and errors here.
        for raw in self.process.stderr:
            line = raw[-4096:].decode("utf-8", "replace").strip()
            if line and not self._message(line):
                self.last_error_line = line

    def _message(self, line):
        """Counts a "Warning : " or "Error : " line and keeps the first ones; False for any
        other line."""
        for kind, prefix in (("WARNING", "Warning : "), ("ERROR", "Error : ")):
            if line.startswith(prefix):
                with self.lock:  # both readers come here
                    self.counts[kind] += 1
                    if self.counts[kind] <= RELAYED_MESSAGES:
                        self.messages.append((kind, line[len(prefix) :]))
                return True
        return False

    def poll(self, wait=0.1):
        """Waits up to `wait` seconds; True once morvex has ended, or was ended at the time
        limit."""
        try:
            self.process.wait(timeout=wait)
        except subprocess.TimeoutExpired:
            if time.monotonic() < self.deadline:
                return False
            self.timed_out = True
            self.stop()
        for reader in self.readers:
            reader.join()
        return True

    def stop(self):
        """Ends morvex now (it removes nothing it wrote: its files are complete or absent)."""
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    def output(self):
        """The text of standard output, or None when it was not kept or was too large."""
        if not self.keep_output or self.output_size > LARGEST_REPORT:
            return None
        return b"".join(self.output_parts).decode("utf-8", "replace")


def find_morvex(preferences):
    """The morvex program to run: the one set in the preferences, else the one bundled in the
    add-on folder, else the one on the PATH."""
    if preferences.morvex_path:
        path = bpy.path.abspath(preferences.morvex_path)
        if not os.path.isfile(path):
            raise MorvexNotFound(
                f"The morvex program set in the add-on preferences does not exist: {path}"
            )
        return path
    if os.path.isfile(BUNDLED_MORVEX):
        return BUNDLED_MORVEX
    on_path = shutil.which("morvex")
    if on_path is None:
        raise MorvexNotFound(NOT_FOUND_HELP)
    return on_path


def restore_bundled_permissions():
    """Installing an add-on from a zip drops the file modes, so a bundled morvex arrives without
    its execute permission; give it back."""
    if os.name == "nt" or not os.path.isfile(BUNDLED_MORVEX):
        return
    mode = os.stat(BUNDLED_MORVEX).st_mode
    executable = stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH
    if mode & executable != executable:
        try:
            os.chmod(BUNDLED_MORVEX, mode | executable)
        except OSError:
            pass  # A read-only install: running it reports the error with its path.


def restore_numpy_bool():
    """Blender 3.4's glTF importer uses numpy.bool, which numpy 1.24 removed (numpy 2 has it
    again); give it back where it is missing. Looked up in the module's namespace, because
    numpy 1.24 warns on every attribute lookup of the removed name."""
    import numpy

    if "bool" not in vars(numpy):
        numpy.bool = bool


class MorvexPreferences(AddonPreferences):
    bl_idname = __package__

    morvex_path: StringProperty(
        name="morvex Program",
        description="The morvex executable to convert with. Empty: the one bundled with the "
        "add-on, else the one on the PATH",
        subtype="FILE_PATH",
    )
    time_limit: IntProperty(
        name="Time Limit",
        description="Seconds morvex may take for one file before it is stopped",
        min=1,
        default=300,
    )

    def draw(self, context):
        layout = self.layout
        layout.prop(self, "morvex_path")
        layout.prop(self, "time_limit")
        try:
            layout.label(text=f"Converting with {find_morvex(self)}", icon="CHECKMARK")
        except MorvexNotFound as error:
            layout.label(text=str(error), icon="ERROR")


@orientation_helper(axis_forward="Y", axis_up="Z")
class ImportIt3(Operator, ImportHelper):
    """Import it3 model files with their materials and textures"""

    bl_idname = "import_scene.it3"
    bl_label = "Import it3"
    bl_options = {"REGISTER", "UNDO"}

    filename_ext = ".it3"
    filter_glob: StringProperty(default="*.it3", options={"HIDDEN"})
    files: CollectionProperty(type=OperatorFileListElement, options={"HIDDEN", "SKIP_SAVE"})
    directory: StringProperty(subtype="DIR_PATH", options={"HIDDEN", "SKIP_SAVE"})

    import_textures: BoolProperty(
        name="Import Textures",
        description="Give the materials the textures stored in the file",
        default=True,
    )
    image_files: EnumProperty(
        name="Images",
        description="Where the textures' images are kept",
        items=(
            (
                "FILES",
                "PNG Files",
                "PNG files in a folder textures/<file name> beside the .blend file, ready to "
                "repaint in any program (packed while the .blend is not saved yet)",
            ),
            (
                "PACK",
                "Packed",
                "Packed inside the .blend file (File > External Data > Unpack Resources writes "
                "them out later)",
            ),
        ),
        default="FILES",
    )
    global_scale: FloatProperty(
        name="Scale",
        description="Scale the imported objects by this factor (1: as stored, 0.01 for a model "
        "made in centimetres)",
        min=0.001,
        max=1000.0,
        default=1.0,
    )
    # Forward and Up (from orientation_helper) name the model's axes as stored. The defaults,
    # Y forward and Z up, keep its coordinates as they are: models stored z-up stand upright.
    # Up Y with Forward -Z turns a model stored y-up upright instead.

    def invoke(self, context, event):
        # Say what is missing before the user picks files, not after.
        try:
            find_morvex(context.preferences.addons[__package__].preferences)
        except MorvexNotFound as error:
            self.report({"ERROR"}, str(error))
            return {"CANCELLED"}
        return ImportHelper.invoke(self, context, event)

    def execute(self, context):
        try:
            morvex = find_morvex(context.preferences.addons[__package__].preferences)
        except MorvexNotFound as error:
            self.report({"ERROR"}, str(error))
            return {"CANCELLED"}
        if not hasattr(bpy.types, "IMPORT_SCENE_OT_gltf"):
            self.report({"ERROR"}, GLTF_OFF_HELP)
            return {"CANCELLED"}
        try:
            restore_numpy_bool()
        except ImportError:
            self.report({"ERROR"}, NUMPY_MISSING_HELP)
            return {"CANCELLED"}

        axis_conversion_ensure(self, "axis_forward", "axis_up")
        placement = axis_conversion(from_forward=self.axis_forward, from_up=self.axis_up).to_4x4()
        placement = placement @ Matrix.Scale(self.global_scale, 4)

        paths = [os.path.join(self.directory, file.name) for file in self.files if file.name]
        self.time_limit = context.preferences.addons[__package__].preferences.time_limit
        self.imported = 0
        self.steps = self.import_steps(context, morvex, paths or [self.filepath], placement)
        if bpy.app.background or context.window is None:
            for _ in self.steps:
                pass  # each step waits a moment for morvex
            return {"FINISHED"} if self.imported else {"CANCELLED"}
        # In the interface the files are converted step by step from a timer, with the progress
        # shown on the cursor; Esc stops morvex and keeps what was imported before.
        window_manager = context.window_manager
        window_manager.progress_begin(0, len(paths) or 1)
        self.timer = window_manager.event_timer_add(0.1, window=context.window)
        window_manager.modal_handler_add(self)
        return {"RUNNING_MODAL"}

    def modal(self, context, event):
        if event.type == "ESC":
            self.steps.close()  # stops the morvex that runs and removes its temporary folder
            self.report({"WARNING"}, "Import cancelled")
            return self.end(context)
        if event.type != "TIMER":
            return {"PASS_THROUGH"}
        try:
            next(self.steps)
        except StopIteration:
            return self.end(context)
        return {"RUNNING_MODAL"}

    def end(self, context):
        window_manager = context.window_manager
        window_manager.event_timer_remove(self.timer)
        window_manager.progress_end()
        return {"FINISHED"} if self.imported else {"CANCELLED"}

    def import_steps(self, context, morvex, paths, placement):
        """Imports the files one after another; yields while morvex runs."""
        for done, path in enumerate(paths):
            if not bpy.app.background and context.window is not None:
                context.window_manager.progress_update(done)
            imported = yield from self.import_file(context, morvex, path, placement)
            self.imported += bool(imported)

    def import_file(self, context, morvex, path, placement):
        """Converts one file and imports the result into a new collection named after the file.
        Returns whether it was imported; every problem is reported. Yields while morvex runs."""
        label = os.path.basename(path)
        objects_before = set(bpy.data.objects)
        images_before = set(bpy.data.images)
        materials_before = set(bpy.data.materials)
        # The folder and the glTF file in it are removed on every path out of this block.
        with tempfile.TemporaryDirectory(prefix="morvex-") as folder:
            run = yield from self.run_morvex(morvex, ["-g", path, folder], label)
            if run is None:
                return False
            for glb in run.written:
                try:
                    bpy.ops.import_scene.gltf(filepath=glb)
                except RuntimeError as error:
                    self.report({"ERROR"}, f"{label}: Blender's glTF importer failed: {error}")
                    return False

        objects = [obj for obj in bpy.data.objects if obj not in objects_before]
        new_materials = [m for m in bpy.data.materials if m not in materials_before]
        new_images = [i for i in bpy.data.images if i not in images_before]
        if not objects:
            # Nothing to place: no empty collection, and the user is told.
            remove_textures(new_materials, new_images)
            for material in new_materials:
                bpy.data.materials.remove(material)
            self.report({"WARNING"}, f"{label}: the file holds no object that can be imported")
            return False
        collection = bpy.data.collections.new(os.path.splitext(label)[0])
        context.collection.children.link(collection)
        remember_source(collection, path, placement)
        for obj in objects:
            for owner in obj.users_collection:
                owner.objects.unlink(obj)
            collection.objects.link(obj)
            if obj.parent is None:
                obj.matrix_world = placement @ obj.matrix_world
        # Images first: a material's likeness looks at its images.
        new_images = merge_duplicates(new_images, image_signature)
        new_materials = merge_duplicates(new_materials, material_signature)
        if not self.import_textures:
            remove_textures(new_materials, new_images)
        elif self.image_files == "FILES":
            self.write_images(path, new_images)
        yield from self.report_contents(morvex, path, label, collection)
        return True

    def write_images(self, path, images):
        """Writes the packed images of the file at `path` as PNG files into textures/<stem>
        beside the .blend file and uses them from there. While the .blend is not saved they stay
        packed, and the user is told how to write them out later. An image that cannot be written
        stays packed, with a warning."""
        label = os.path.basename(path)
        if not any(image.packed_file is not None for image in images):
            return
        if not bpy.data.filepath:
            self.report(
                {"INFO"},
                f"{label}: the images are packed, as the .blend file is not saved yet; once it "
                "is, File > External Data > Unpack Resources writes them into textures/ beside it",
            )
            return
        stem = os.path.splitext(label)[0]
        folder = os.path.join(os.path.dirname(bpy.data.filepath), "textures", stem)
        for image in images:
            if image.packed_file is None:
                continue
            target = os.path.join(folder, bpy.path.clean_name(image.name) + ".png")
            try:
                os.makedirs(folder, exist_ok=True)
                with open(target, "wb") as file:
                    file.write(image.packed_file.data)
            except OSError as error:
                self.report(
                    {"WARNING"}, f"image {image.name} kept packed: can not write {target}: {error}"
                )
                continue
            # The file just written is the image's source from now on.
            image.unpack(method="REMOVE")
            image.filepath = bpy.path.relpath(target)
            image.reload()

    def report_contents(self, morvex, path, label, collection):
        """Reports what the file holds, from morvex's report (`morvex -i --json`): one line of
        totals, and a warning for each texture that a material names and the file does not hold.
        The report itself is kept on the collection, as JSON text in its "morvex_report"
        property, for scripts. A report that cannot be made, or is larger than LARGEST_REPORT,
        costs the import nothing. Yields while morvex runs."""
        try:
            run = MorvexRun(morvex, ["-i", "--json", path], self.time_limit, keep_output=True)
        except OSError:
            return
        try:
            while not run.poll():
                yield
        finally:
            run.stop()
        text = run.output()
        try:
            report = json.loads(text) if run.process.returncode == 0 and text else None
            totals = report["totals"]
        except (ValueError, KeyError, TypeError):
            return
        collection["morvex_report"] = text
        counts = [
            (totals["objectsWritten"], "object"),
            (totals["meshesWritten"], "mesh"),
            (totals["vertices"], "vertex"),
            (totals["triangles"], "triangle"),
            (totals["materials"], "material"),
            (totals["texturesConverting"], "texture"),
        ]
        self.report({"INFO"}, f"{label}: " + ", ".join(counted(n, word) for n, word in counts))
        missing_textures = report.get("missingTextures", [])
        for missing in missing_textures[:RELAYED_MESSAGES]:
            kind = "alpha map" if missing["kind"] == "alphaMap" else "texture"
            self.report(
                {"WARNING"},
                f"{label}: material \"{missing['material']}\" of object \"{missing['object']}\" "
                f"names the {kind} \"{missing['name']}\", which the file does not hold",
            )
        if len(missing_textures) > RELAYED_MESSAGES:
            self.report(
                {"WARNING"},
                f"{label}: {len(missing_textures) - RELAYED_MESSAGES} more textures missing",
            )

    def run_morvex(self, morvex, arguments, label):
        """Runs morvex with `arguments` (no shell), yielding while it runs, and relays its
        warnings and errors about the file `label`: at most RELAYED_MESSAGES of each, and a line
        that counts the rest. Returns the finished run, or None when morvex failed, took longer
        than the time limit or was stopped."""
        try:
            run = MorvexRun(morvex, arguments, self.time_limit)
        except OSError as error:
            self.report({"ERROR"}, f"Can not run morvex ({morvex}): {error}")
            return None
        try:
            while not run.poll():
                yield
        finally:
            run.stop()
        for kind, text in run.messages:
            self.report({kind}, f"{label}: {text}")
        for kind, name in (("WARNING", "warnings"), ("ERROR", "errors")):
            if run.counts[kind] > RELAYED_MESSAGES:
                more = run.counts[kind] - RELAYED_MESSAGES
                self.report({kind}, f"{label}: {more} more {name} from morvex")
        if run.timed_out:
            self.report(
                {"ERROR"},
                f"{label}: morvex did not finish within {run.time_limit} s and was stopped "
                "(the time limit is in the add-on preferences)",
            )
            return None
        if run.process.returncode != 0:
            if not run.counts["ERROR"]:
                detail = run.last_error_line or f"exit status {run.process.returncode}"
                self.report({"ERROR"}, f"{label}: morvex failed: {detail}")
            return None
        return run


PLURALS = {"mesh": "meshes", "vertex": "vertices"}


def counted(count, word):
    """ "1 object", "2 objects", "1 vertex", "3 vertices"."""
    return f"{count} {word if count == 1 else PLURALS.get(word, word + 's')}"


def base_name(name):
    """A data-block name without the ".001" Blender adds to a name already taken."""
    stem, dot, number = name.rpartition(".")
    return stem if dot and len(number) == 3 and number.isdigit() else name


def material_signature(material):
    """What makes two of the glTF importer's materials the same: their settings and nodes."""
    tree = material.node_tree
    nodes, links = [], []
    if tree is not None:
        for node in tree.nodes:
            image = getattr(node, "image", None)
            values = tuple(
                repr(tuple(socket.default_value) if hasattr(socket.default_value, "__len__")
                     else socket.default_value)
                for socket in node.inputs
                if hasattr(socket, "default_value") and not socket.is_linked
            )
            nodes.append((node.bl_idname, image.name if image else None, values))
        links = [
            (l.from_node.bl_idname, l.from_socket.identifier, l.to_node.bl_idname,
             l.to_socket.identifier)
            for l in tree.links
        ]
    return (
        material.blend_method,
        round(material.alpha_threshold, 6),
        tuple(sorted(nodes, key=repr)),
        tuple(sorted(links)),
    )


def image_signature(image):
    return image.packed_file.data if image.packed_file is not None else image.filepath


def merge_duplicates(blocks, signature):
    """Among the data-blocks one file brought (materials or images), those whose names differ
    only by Blender's ".001" and that are alike become one: their users take the first. Returns
    the blocks that remain."""
    kept = {}
    remaining = []
    for block in sorted(blocks, key=lambda b: b.name):
        key = (base_name(block.name), signature(block))
        first = kept.setdefault(key, block)
        if first is block:
            remaining.append(block)
        else:
            block.user_remap(first)
            (bpy.data.materials if isinstance(block, bpy.types.Material) else bpy.data.images).remove(
                block
            )
    return remaining


def remove_textures(materials, images):
    """Takes the image textures out of `materials` and removes `images`."""
    for material in materials:
        if material.node_tree is not None:
            nodes = material.node_tree.nodes
            for node in [node for node in nodes if node.type == "TEX_IMAGE"]:
                nodes.remove(node)
    for image in images:
        bpy.data.images.remove(image)


def menu_import(self, context):
    self.layout.operator(ImportIt3.bl_idname, text="it3 (.it3)")


# File > Export > it3: an imported collection's objects back into the file they came from.

# The collection properties an import leaves for the export: the source file and the placement
# (axes and scale) the import put the objects in.
SOURCE_PROPERTY = "morvex_source"
PLACEMENT_PROPERTY = "morvex_placement"


def remember_source(collection, path, placement):
    collection[SOURCE_PROPERTY] = os.path.abspath(path)
    collection[PLACEMENT_PROPERTY] = [value for row in placement for value in row]


def source_collection(context):
    """The imported collection whose objects are exported: the one of the selected objects, else
    the active collection. Returns (collection, objects) or raises ExportRefused."""
    imported = [c for c in bpy.data.collections if SOURCE_PROPERTY in c]
    selected = [obj for obj in context.selected_objects if obj.type in {"MESH", "EMPTY"}]
    owners = {c for c in imported for obj in selected if obj.name in c.objects}
    if len(owners) > 1:
        raise ExportRefused("The selected objects come from more than one it3 file: select the "
                            "objects of one imported file.")
    if owners:
        collection = owners.pop()
        objects = [obj for obj in selected if obj.name in collection.objects]
    elif SOURCE_PROPERTY in context.collection:
        collection = context.collection
        objects = list(collection.objects)
    else:
        raise ExportRefused("The selected objects do not come from an it3 file imported with "
                            "File > Import > it3: there is no file to write them back into.")
    source = collection[SOURCE_PROPERTY]
    if not os.path.isfile(source):
        raise ExportRefused(f"The file {collection.name} was imported from is gone: {source}")
    return collection, objects


class ExportRefused(Exception):
    """The export can not start; the message says why."""


@contextlib.contextmanager
def placed_as_stored(objects, placement):
    """Puts the objects back where the import found them (undoing its axes and scale) and selects
    only them, for as long as the block runs."""
    inverse = placement.inverted()
    roots = [obj for obj in objects if obj.parent is None]
    matrices = {obj: obj.matrix_world.copy() for obj in roots}
    selection = {obj: obj.select_get() for obj in bpy.context.view_layer.objects}
    try:
        for obj in roots:
            obj.matrix_world = inverse @ matrices[obj]
        for obj in selection:
            obj.select_set(obj in objects)
        yield
    finally:
        for obj, matrix in matrices.items():
            obj.matrix_world = matrix
        for obj, selected in selection.items():
            obj.select_set(selected)


class ExportIt3(Operator, ExportHelper):
    """Write the edited objects of an imported it3 file back into an it3 file"""

    bl_idname = "export_scene.it3"
    bl_label = "Export it3"
    bl_options = {"REGISTER"}

    filename_ext = ".it3"
    filter_glob: StringProperty(default="*.it3", options={"HIDDEN"})

    def invoke(self, context, event):
        try:
            collection, _ = source_collection(context)
        except ExportRefused as error:
            self.report({"ERROR"}, str(error))
            return {"CANCELLED"}
        self.filepath = collection[SOURCE_PROPERTY]
        return ExportHelper.invoke(self, context, event)

    def execute(self, context):
        try:
            morvex = find_morvex(context.preferences.addons[__package__].preferences)
            collection, objects = source_collection(context)
        except (MorvexNotFound, ExportRefused) as error:
            self.report({"ERROR"}, str(error))
            return {"CANCELLED"}
        if not hasattr(bpy.types, "EXPORT_SCENE_OT_gltf"):
            self.report({"ERROR"}, GLTF_OFF_HELP.replace("importer", "exporter"))
            return {"CANCELLED"}
        source = collection[SOURCE_PROPERTY]
        identity = [float(row == column) for row in range(4) for column in range(4)]
        values = list(collection.get(PLACEMENT_PROPERTY, identity))
        placement = Matrix([values[k : k + 4] for k in range(0, 16, 4)])
        target = bpy.path.abspath(self.filepath)
        label = os.path.basename(target)
        with tempfile.TemporaryDirectory(prefix="morvex-") as folder:
            glb = os.path.join(folder, "edited.glb")
            with placed_as_stored(objects, placement):
                try:
                    bpy.ops.export_scene.gltf(
                        filepath=glb,
                        export_format="GLB",
                        use_selection=True,
                        export_extras=True,
                        export_apply=True,
                        export_yup=True,
                    )
                except RuntimeError as error:
                    self.report({"ERROR"}, f"{label}: Blender's glTF exporter failed: {error}")
                    return {"CANCELLED"}
            arguments = ["--pack", source, glb, target]
            if os.path.exists(target) and os.path.samefile(source, target):
                arguments.insert(1, "--force")
            # The pack runs to its end here, within the time limit of the preferences.
            self.time_limit = context.preferences.addons[__package__].preferences.time_limit
            if run_to_end(ImportIt3.run_morvex(self, morvex, arguments, label)) is None:
                return {"CANCELLED"}
        self.report({"INFO"}, f"{label}: written")
        return {"FINISHED"}


def run_to_end(steps):
    """Runs the generator `steps` (each step waits a moment for morvex) to its end; returns the
    value it returns."""
    try:
        while True:
            next(steps)
    except StopIteration as end:
        return end.value


def menu_export(self, context):
    self.layout.operator(ExportIt3.bl_idname, text="it3 (.it3)")


CLASSES = (MorvexPreferences, ImportIt3, ExportIt3)


def register():
    restore_bundled_permissions()
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_import.append(menu_import)
    bpy.types.TOPBAR_MT_file_export.append(menu_export)


def unregister():
    bpy.types.TOPBAR_MT_file_export.remove(menu_export)
    bpy.types.TOPBAR_MT_file_import.remove(menu_import)
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)

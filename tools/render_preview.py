"""Renders an it3 model, imported through the Blender add-on, into a PNG file:

    blender -b --factory-startup --python-exit-code 1 --python tools/render_preview.py -- \\
        ADDON_ZIP MORVEX MODEL.it3 OUTPUT.png [--size WIDTH HEIGHT] [--samples N]

It installs and enables the add-on from ADDON_ZIP, imports MODEL.it3 with MORVEX, puts it on a
floor under a sun and a soft sky, frames it with the camera and renders it with Cycles on the
CPU, without denoising. Run it through blender/run_blender.cmake, which gives Blender user
folders of its own, so that the install leaves the machine's Blender setup alone:
`cmake --build build --target blender_preview` renders the bundled sample into
build/blender/sample.png, the picture kept as docs/sample.png.
"""

import argparse
import math
import os
import sys
import time

import bpy
from mathutils import Euler, Vector


def parse_arguments():
    parser = argparse.ArgumentParser(prog="render_preview.py")
    parser.add_argument("addon_zip")
    parser.add_argument("morvex")
    parser.add_argument("model")
    parser.add_argument("output")
    parser.add_argument(
        "--size", type=int, nargs=2, default=(960, 540), metavar=("WIDTH", "HEIGHT")
    )
    parser.add_argument("--samples", type=int, default=32)
    return parser.parse_args(sys.argv[sys.argv.index("--") + 1 :])


def import_model(arguments):
    """Imports the model through the add-on into an empty scene; returns the objects."""
    bpy.ops.preferences.addon_install(filepath=arguments.addon_zip)
    bpy.ops.preferences.addon_enable(module="io_import_it3")
    bpy.context.preferences.addons["io_import_it3"].preferences.morvex_path = arguments.morvex
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj)
    if bpy.ops.import_scene.it3(filepath=arguments.model) != {"FINISHED"}:
        raise SystemExit(f"could not import {arguments.model}")
    return list(bpy.data.objects)


def bounds(objects):
    corners = [obj.matrix_world @ Vector(corner) for obj in objects for corner in obj.bound_box]
    low = Vector([min(c[k] for c in corners) for k in range(3)])
    high = Vector([max(c[k] for c in corners) for k in range(3)])
    return low, high


def add_floor(low, high):
    """A large matte floor under the model."""
    size = 40 * max((high - low).length, 1e-3)
    bpy.ops.mesh.primitive_plane_add(
        size=size, location=((low.x + high.x) / 2, (low.y + high.y) / 2, low.z)
    )
    material = bpy.data.materials.new("floor")
    material.use_nodes = True
    shader = material.node_tree.nodes["Principled BSDF"]
    shader.inputs["Base Color"].default_value = (0.42, 0.43, 0.45, 1.0)
    shader.inputs["Roughness"].default_value = 0.85
    bpy.context.object.data.materials.append(material)


def add_lights(scene):
    """A warm sun from the front left for shape and soft shadows, and a cool sky to fill."""
    sun = bpy.data.objects.new("sun", bpy.data.lights.new("sun", "SUN"))
    sun.data.energy = 4.0
    sun.data.angle = math.radians(12)
    sun.data.color = (1.0, 0.95, 0.88)
    sun.rotation_euler = Euler((math.radians(50), 0, math.radians(-35)))
    scene.collection.objects.link(sun)
    background = scene.world.node_tree.nodes["Background"]
    background.inputs["Color"].default_value = (0.62, 0.70, 0.80, 1.0)
    background.inputs["Strength"].default_value = 0.7


def frame_camera(scene, low, high):
    """A camera looking down at the model from the front right, pulled back to fit it with a
    margin."""
    camera = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
    camera.data.lens = 50
    scene.collection.objects.link(camera)
    scene.camera = camera
    camera.rotation_euler = Euler((math.radians(68), 0, math.radians(28)))
    corners = [
        Vector((x, y, z)) for x in (low.x, high.x) for y in (low.y, high.y) for z in (low.z, high.z)
    ]
    depsgraph = bpy.context.evaluated_depsgraph_get()
    location, _ = camera.camera_fit_coords(
        depsgraph, [value for corner in corners for value in corner]
    )
    backwards = camera.rotation_euler.to_matrix() @ Vector((0, 0, 1))
    camera.location = Vector(location) + backwards * 0.25 * (high - low).length


def render(scene, arguments):
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = arguments.samples
    scene.cycles.use_denoising = False
    scene.render.resolution_x, scene.render.resolution_y = arguments.size
    scene.render.resolution_percentage = 100
    scene.render.image_settings.file_format = "PNG"
    scene.render.image_settings.color_mode = "RGB"
    scene.render.filepath = os.path.abspath(arguments.output)
    start = time.perf_counter()
    bpy.ops.render.render(write_still=True)
    if not os.path.isfile(scene.render.filepath):
        raise SystemExit(f"no picture was written to {scene.render.filepath}")
    print(f"rendered {scene.render.filepath} in {time.perf_counter() - start:.1f} s")


def main():
    arguments = parse_arguments()
    if "BLENDER_USER_RESOURCES" not in os.environ:
        raise SystemExit(
            "run through blender/run_blender.cmake, which gives Blender user folders of its own"
        )
    scene = bpy.context.scene
    low, high = bounds(import_model(arguments))
    add_floor(low, high)
    add_lights(scene)
    frame_camera(scene, low, high)
    render(scene, arguments)


main()

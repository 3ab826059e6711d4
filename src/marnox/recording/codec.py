"""What a recording's messages hold, and how arrays, poses and joints become messages.

Point clouds, trajectories and images go out in Foxglove's schemas where those carry the
array bit for bit (a dtype and layout they define); anything else (64-bit integers, a byte
order other than little-endian, a channel count without an image encoding) goes out as our
own ``marnox.recording.Array``, which records NumPy's dtype and the shape. Array messages
carry no timestamp of their own: MCAP's log time is their time.

Reading checks every message against what our writer makes of it (a dtype NumPy knows and
a shape that fits the bytes, the point cloud layout, the image step) and raises ValueError
for anything else.
"""

from __future__ import annotations

import math

import numpy as np
from google.protobuf.message import DecodeError

from marnox import _checks
from marnox.pose import Pose
from marnox.recording import schemas
from marnox.recording.format import ARRAY_DTYPES, WORLD

_Numeric = schemas.PackedElementField.NumericType
# Little-endian (or single-byte) dtypes a foxglove.PackedElementField names.
_FIELD_TYPES = {
    "|u1": _Numeric.UINT8,
    "|i1": _Numeric.INT8,
    "<u2": _Numeric.UINT16,
    "<i2": _Numeric.INT16,
    "<u4": _Numeric.UINT32,
    "<i4": _Numeric.INT32,
    "<f4": _Numeric.FLOAT32,
    "<f8": _Numeric.FLOAT64,
}
_DTYPE_OF_FIELD = {value: np.dtype(key) for key, value in _FIELD_TYPES.items()}
_CLOUD_FIELDS = ("x", "y", "z", "red", "green", "blue")
# (dtype, channels) of the foxglove.RawImage encodings that hold an array bit for bit.
_IMAGE_ENCODINGS = {
    ("|u1", 1): "mono8",
    ("|u1", 3): "rgb8",
    ("|u1", 4): "rgba8",
    ("<u2", 1): "mono16",
    ("<f4", 1): "32FC1",
}
_IMAGE_LAYOUTS = {encoding: layout for layout, encoding in _IMAGE_ENCODINGS.items()}
_MAX_FIXED32 = 2**32 - 1


def _varint(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def _with_bytes_field(head, field_number, array):
    """``head`` (a serialized message) followed by a bytes field holding ``array``'s memory:
    one copy of the array, where setting the field and serializing would make three."""
    data = np.ascontiguousarray(array).reshape(-1).view(np.uint8)
    tag = _varint(field_number << 3 | 2)
    return b"".join((head, tag, _varint(data.nbytes), data))


def _array_message(array):
    head = schemas.Array(dtype=array.dtype.str, shape=array.shape).SerializeToString()
    return schemas.Array, _with_bytes_field(
        head, schemas.Array.DESCRIPTOR.fields_by_name["data"].number, array
    )


def encode_rows(array):
    """An (N, 3) or (N, 6) array as a foxglove.PointCloud where its dtype allows, else an Array."""
    field_type = _FIELD_TYPES.get(array.dtype.str)
    if field_type is None or array.ndim != 2 or array.shape[1] not in (3, 6):
        return _array_message(array)
    size = array.dtype.itemsize
    cloud = schemas.PointCloud(frame_id=WORLD, point_stride=size * array.shape[1])
    cloud.pose.orientation.w = 1.0
    for index, name in enumerate(_CLOUD_FIELDS[: array.shape[1]]):
        cloud.fields.add(name=name, offset=index * size, type=field_type)
    number = schemas.PointCloud.DESCRIPTOR.fields_by_name["data"].number
    return schemas.PointCloud, _with_bytes_field(cloud.SerializeToString(), number, array)


def encode_image(array, frame_id):
    """A (rows, columns, channels) array as a foxglove.RawImage where an encoding fits, else
    an Array."""
    if array.ndim != 3:
        return _array_message(array)
    rows, columns, channels = array.shape
    encoding = _IMAGE_ENCODINGS.get((array.dtype.str, channels))
    row_bytes = columns * channels * array.dtype.itemsize
    if encoding is None or not 0 < rows <= _MAX_FIXED32 or not 0 < row_bytes <= _MAX_FIXED32:
        return _array_message(array)
    image = schemas.RawImage(
        frame_id=frame_id, width=columns, height=rows, encoding=encoding, step=row_bytes
    )
    number = schemas.RawImage.DESCRIPTOR.fields_by_name["data"].number
    return schemas.RawImage, _with_bytes_field(image.SerializeToString(), number, array)


def encode_transforms(frames, stamp_ns):
    """``(child, parent, position, (w, x, y, z))`` tuples as a foxglove.FrameTransforms."""
    message = schemas.FrameTransforms()
    seconds, nanos = divmod(stamp_ns, 1_000_000_000)
    for child, parent, position, orientation in frames:
        transform = message.transforms.add(parent_frame_id=parent, child_frame_id=child)
        transform.timestamp.seconds = seconds
        transform.timestamp.nanos = nanos
        transform.translation.x, transform.translation.y, transform.translation.z = position
        rotation = transform.rotation
        rotation.w, rotation.x, rotation.y, rotation.z = orientation
    return schemas.FrameTransforms, message.SerializeToString()


def encode_joints(robots):
    """``(robot, ((joint, position), ...))`` tuples as a JointPositions message."""
    message = schemas.JointPositions()
    for robot, joints in robots:
        message.robots.add(
            robot=robot, names=[name for name, _ in joints], positions=[p for _, p in joints]
        )
    return schemas.JointPositions, message.SerializeToString()


def same_array(a, b):
    """Whether two arrays hold the same bits in the same dtype and shape (NaNs and signed
    zeros included)."""
    if a is b:
        return True
    if a.dtype != b.dtype or a.shape != b.shape:
        return False
    # Unsigned words compare bits at memory speed, with no temporary as large as the array.
    word = np.dtype(f"u{math.gcd(a.dtype.itemsize, 8)}")
    return bool(np.array_equal(a.ravel().view(word), b.ravel().view(word)))


_LARGEST = np.iinfo(np.intp).max


def _array(data, dtype, shape):
    """The array of NumPy ``dtype`` (its ``str``) and ``shape`` that ``data`` holds."""
    if dtype not in ARRAY_DTYPES:
        raise ValueError(f"an array of dtype {dtype[:40]!r}")
    dtype = np.dtype(dtype)
    if math.prod(size for size in shape if size) * dtype.itemsize > _LARGEST:
        raise ValueError(f"an array of shape {shape} is larger than memory can hold")
    if math.prod(shape) * dtype.itemsize != len(data):
        raise ValueError(f"an array of shape {shape} and dtype {dtype} in {len(data)} bytes")
    return np.frombuffer(data, dtype).reshape(shape)


def _rows_of_array(message):
    shape = tuple(message.shape)
    if len(shape) != 2 or shape[1] not in (3, 6):
        raise ValueError(f"rows of shape {shape}")
    return _array(message.data, message.dtype, shape)


def _rows_of_cloud(message):
    fields = message.fields
    if len(fields) not in (3, 6):
        raise ValueError(f"a point cloud of {len(fields)} fields")
    dtype = _DTYPE_OF_FIELD.get(fields[0].type)
    if dtype is None:
        raise ValueError(f"a point cloud of field type {fields[0].type}")
    layout = [
        (name, index * dtype.itemsize, fields[0].type) for index, name in enumerate(_CLOUD_FIELDS)
    ]
    if [(field.name, field.offset, field.type) for field in fields] != layout[: len(fields)]:
        raise ValueError("a point cloud of fields other than x, y, z, red, green, blue")
    stride = dtype.itemsize * len(fields)
    data = message.data
    if message.point_stride != stride or len(data) % stride:
        raise ValueError(f"a point cloud of {len(data)} bytes in points of {message.point_stride}")
    return _array(data, dtype.str, (len(data) // stride, len(fields)))


def _image_of_array(message):
    shape = tuple(message.shape)
    if len(shape) != 3:
        raise ValueError(f"an image of shape {shape}")
    return _array(message.data, message.dtype, shape)


def _image_of_raw(message):
    layout = _IMAGE_LAYOUTS.get(message.encoding)
    if layout is None:
        raise ValueError(f"an image of encoding {message.encoding[:40]!r}")
    dtype, channels = layout
    if message.step != message.width * channels * np.dtype(dtype).itemsize:
        raise ValueError(f"an image whose rows are {message.step} bytes")
    return _array(message.data, dtype, (message.height, message.width, channels))


def _joints(message):
    for robot in message.robots:
        if len(robot.names) != len(robot.positions):
            raise ValueError(f"robot {robot.robot[:40]!r} has joints without positions")
    return {
        robot.robot: {
            name: _checks.finite(position, "a joint position")
            for name, position in zip(robot.names, robot.positions, strict=True)
        }
        for robot in message.robots
    }


def _transforms(message):
    return {
        t.child_frame_id: (
            t.parent_frame_id,
            Pose.exact(
                (t.translation.x, t.translation.y, t.translation.z),
                (t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z),
            ),
        )
        for t in message.transforms
    }


# What each message type holds once read, by the topics it may come on: arrays of rows
# (point clouds, trajectories), images, a frame's image count, ``{robot: {joint:
# position}}``, ``{child: (parent, Pose)}`` or the project.
_ROWS = {schemas.Array: _rows_of_array, schemas.PointCloud: _rows_of_cloud}
_IMAGE = {schemas.Array: _image_of_array, schemas.RawImage: _image_of_raw}
_OTHERS = {
    schemas.Frame: lambda message: message.images,
    schemas.JointPositions: _joints,
    schemas.FrameTransforms: _transforms,
    schemas.ProjectSnapshot: lambda message: message,
}


def _parse(cls, data):
    try:
        return cls.FromString(data)
    except DecodeError as error:
        raise ValueError(f"a {cls.DESCRIPTOR.full_name} message does not parse") from error


def decode_rows(cls, data):
    """The (N, 3) or (N, 6) array a point cloud or trajectory message holds."""
    return _ROWS[cls](_parse(cls, data))


def decode_image(cls, data):
    """The (rows, columns, channels) array an image message holds."""
    return _IMAGE[cls](_parse(cls, data))


def decode(cls, data):
    """What any other message holds."""
    return _OTHERS[cls](_parse(cls, data))

"""What a recording's messages hold, and how arrays, poses and joints become messages.

Point clouds, trajectories and images go out in Foxglove's schemas where those carry the
array bit for bit (a dtype and layout they define); anything else (64-bit integers, a byte
order other than little-endian, a channel count without an image encoding) goes out as our
own ``marnox.recording.Array``, which records NumPy's dtype and the shape. The change check
compares these messages byte for byte, so array messages carry no timestamp of their own:
MCAP's log time is their time.
"""

from __future__ import annotations

import numpy as np

from marnox.recording import schemas

PROJECT_TOPIC = "/marnox/project"
FRAME_TOPIC = "/marnox/frame"
JOINTS_TOPIC = "/marnox/joints"
NODES_TOPIC = "/tf"
LINKS_TOPIC = "/tf/links"
POINTCLOUD_TOPIC = "/pointcloud"
TRAJECTORY_TOPIC = "/trajectory"
WORLD = "world"


def image_topic(index):
    return f"/images/{index}"


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


def _frombuffer(data, dtype, shape):
    dtype = np.dtype(dtype)
    if dtype.kind not in "biufc":
        raise ValueError(f"array of dtype {dtype} in a recording")
    return np.frombuffer(data, dtype=dtype).reshape(shape)


def decode(cls, data):
    """The value a message holds: an array, a frame's image count, ``{robot: {joint:
    position}}`` or ``{child: (parent, position, (w, x, y, z))}``."""
    message = cls.FromString(data)
    if cls is schemas.Array:
        return _frombuffer(message.data, message.dtype, tuple(message.shape))
    if cls is schemas.PointCloud:
        fields = message.fields
        if not fields or len({field.type for field in fields}) != 1:
            raise ValueError("point cloud fields of mixed types")
        dtype = _DTYPE_OF_FIELD[fields[0].type]
        return _frombuffer(message.data, dtype, (-1, len(fields)))
    if cls is schemas.RawImage:
        dtype, channels = _IMAGE_LAYOUTS[message.encoding]
        return _frombuffer(message.data, dtype, (message.height, message.width, channels))
    if cls is schemas.Frame:
        return message.images
    if cls is schemas.JointPositions:
        return {
            robot.robot: dict(zip(robot.names, robot.positions, strict=True))
            for robot in message.robots
        }
    if cls is schemas.FrameTransforms:
        return {
            t.child_frame_id: (
                t.parent_frame_id,
                (t.translation.x, t.translation.y, t.translation.z),
                (t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z),
            )
            for t in message.transforms
        }
    return message

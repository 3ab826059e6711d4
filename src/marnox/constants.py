"""File name extensions used when saving projects and images, and the shapes' default colour."""

MX_PROJECT_FILE_EXT = ".mxproj"
MX_IMAGE_FILE_EXT = ".png"

# The colour of a shape or mesh that names none.
DEFAULT_GREY = (0.7, 0.7, 0.7)

"""File name extensions used when saving projects and images."""

MX_PROJECT_FILE_EXT = ".mxproj"
MX_IMAGE_FILE_EXT = ".png"

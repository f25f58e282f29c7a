# Features of generation 9 drives, read by the drive image creator
# (pmImgCreator.PmImgCreator) and recorded in the image header.
PM_FEATURES = {
    "HAVE_FLOAT": True,
    "HAVE_CLASSES": True,
    "HAVE_GENERATORS": True,
    "HAVE_CLOSURES": True,
    "HAVE_DEBUG_INFO": True,
}

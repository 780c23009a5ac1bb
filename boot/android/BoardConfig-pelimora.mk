# For the device's BoardConfig.mk (include it from there). The root is the
# read-only system image: the frames live on the vendor partition, in
# /vendor/etc/bootimages/ (PRODUCT_COPY_FILES to
# $(TARGET_COPY_OUT_VENDOR)/etc/bootimages/), and /bootimages, where the
# player opens them, is a link made when the image is built.
BOARD_VENDOR_SEPOLICY_DIRS += $(dir $(lastword $(MAKEFILE_LIST)))sepolicy
BOARD_ROOT_EXTRA_SYMLINKS += /vendor/etc/bootimages:/bootimages

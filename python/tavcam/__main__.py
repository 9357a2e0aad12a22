"""python3 -m tavcam: which library the package loaded, and the cameras present."""

import tavcam


def main():
    print(f"library: {tavcam.LIBRARY_PATH} ({tavcam.LIBRARY_SOURCE})")
    found = tavcam.cameras()
    if not found:
        print("no camera")
    for info in found:
        print(f"camera {info.index}: {info.name}")


if __name__ == "__main__":
    main()

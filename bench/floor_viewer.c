/* The floor: the least a viewer must do to show a textured scan, written plainly in C with
 * OpenGL 1.1. It reads a binary little-endian PLY (float x y z and u v per vertex, faces
 * as a uchar-counted int list, triangulated as fans), computes area-weighted vertex
 * normals, reads the picture with libpng, builds mipmaps, draws one lit, textured frame in
 * an 800 x 600 window and exits. Benchmarks compare the viewer's first frame and memory
 * against it: whatever a viewer spends beyond this is its own overhead.
 *
 *   floor_viewer FILE.ply PICTURE.png [--frames N]
 *
 * Prints "first frame: S s" on stdout; with --frames N it then draws N more frames at the
 * same size, turning the surface, and prints "frame: S s" (the mean time of one frame). */
#define _POSIX_C_SOURCE 200809L
#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <math.h>
#include <png.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static void fail(const char* what) {
    fprintf(stderr, "floor_viewer: %s\n", what);
    exit(1);
}

typedef struct {
    float* position; /* 3 per vertex */
    float* uv;       /* 2 per vertex */
    float* normal;   /* 3 per vertex */
    uint32_t* index; /* 3 per triangle */
    size_t vertices, triangles;
} Mesh;

/* Reads the whole file and parses it; the PLY must be binary little endian. */
static void read_ply(const char* path, Mesh* mesh) {
    FILE* file = fopen(path, "rb");
    if (!file) fail("cannot open the PLY file");
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fseek(file, 0, SEEK_SET);
    unsigned char* bytes = malloc((size_t)size + 1);
    if (!bytes || fread(bytes, 1, (size_t)size, file) != (size_t)size) fail("cannot read the PLY file");
    fclose(file);
    bytes[size] = 0;

    char* end = strstr((char*)bytes, "end_header\n");
    if (!end) fail("no end_header");
    size_t faces = 0;
    int vertex_floats = 0, x = -1, y = -1, z = -1, u = -1, v = -1, in_vertex = 0;
    for (char* line = (char*)bytes; line < end;) {
        char* next = strchr(line, '\n');
        *next = 0;
        char name[64];
        unsigned long count;
        if (sscanf(line, "element vertex %lu", &count) == 1) {
            mesh->vertices = count;
            in_vertex = 1;
        } else if (sscanf(line, "element face %lu", &count) == 1) {
            faces = count;
            in_vertex = 0;
        } else if (in_vertex && sscanf(line, "property float %63s", name) == 1) {
            if (!strcmp(name, "x")) x = vertex_floats;
            if (!strcmp(name, "y")) y = vertex_floats;
            if (!strcmp(name, "z")) z = vertex_floats;
            if (!strcmp(name, "u") || !strcmp(name, "s") || !strcmp(name, "texture_u")) u = vertex_floats;
            if (!strcmp(name, "v") || !strcmp(name, "t") || !strcmp(name, "texture_v")) v = vertex_floats;
            ++vertex_floats;
        } else if (in_vertex && !strncmp(line, "property", 8)) {
            fail("the vertices may hold float properties only");
        }
        line = next + 1;
    }
    if (x < 0 || y < 0 || z < 0 || u < 0 || v < 0) fail("the vertices need float x y z u v");
    if (vertex_floats > 16) fail("too many vertex properties");

    const unsigned char* at = (unsigned char*)end + strlen("end_header\n");
    const unsigned char* stop = bytes + size;
    size_t n = mesh->vertices;
    if ((size_t)(stop - at) / (size_t)(vertex_floats * 4) < n) fail("the file ends in the vertices");
    mesh->position = malloc(n * 3 * sizeof(float));
    mesh->uv = malloc(n * 2 * sizeof(float));
    mesh->normal = calloc(n * 3, sizeof(float));
    for (size_t i = 0; i < n; ++i, at += vertex_floats * 4) {
        float f[16];
        memcpy(f, at, (size_t)vertex_floats * 4 > sizeof f ? sizeof f : (size_t)vertex_floats * 4);
        mesh->position[3 * i] = f[x];
        mesh->position[3 * i + 1] = f[y];
        mesh->position[3 * i + 2] = f[z];
        mesh->uv[2 * i] = f[u];
        mesh->uv[2 * i + 1] = f[v];
    }
    /* Fans: a face of k corners gives k - 2 triangles. Triangles are the common case, so
     * the list starts at one per face and grows when needed. */
    size_t capacity = faces, used = 0;
    mesh->index = malloc(capacity * 3 * sizeof(uint32_t));
    for (size_t f = 0; f < faces; ++f) {
        if (at >= stop) fail("the file ends in the faces");
        unsigned k = *at++;
        if ((size_t)(stop - at) < (size_t)k * 4) fail("the file ends in the faces");
        uint32_t corner[256];
        memcpy(corner, at, (size_t)k * 4);
        at += (size_t)k * 4;
        for (unsigned c = 0; c < k; ++c)
            if (corner[c] >= n) fail("a face names a vertex past the list");
        for (unsigned c = 2; c < k; ++c) {
            if (used == capacity) {
                capacity = capacity * 2 + 1;
                mesh->index = realloc(mesh->index, capacity * 3 * sizeof(uint32_t));
            }
            mesh->index[3 * used] = corner[0];
            mesh->index[3 * used + 1] = corner[c - 1];
            mesh->index[3 * used + 2] = corner[c];
            ++used;
        }
    }
    mesh->triangles = used;
    free(bytes);
}

/* The cross product of two edges is twice the area times the unit normal, so summing it
 * weights each triangle by its area. */
static void compute_normals(Mesh* mesh) {
    const float* p = mesh->position;
    float* nrm = mesh->normal;
    for (size_t t = 0; t < mesh->triangles; ++t) {
        const uint32_t* c = mesh->index + 3 * t;
        const float* a = p + 3 * c[0];
        const float* b = p + 3 * c[1];
        const float* d = p + 3 * c[2];
        float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        float e2[3] = {d[0] - a[0], d[1] - a[1], d[2] - a[2]};
        float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        for (int k = 0; k < 3; ++k) {
            nrm[3 * c[k]] += n[0];
            nrm[3 * c[k] + 1] += n[1];
            nrm[3 * c[k] + 2] += n[2];
        }
    }
    for (size_t i = 0; i < mesh->vertices; ++i) {
        float* n = nrm + 3 * i;
        float length = sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length > 0) {
            n[0] /= length;
            n[1] /= length;
            n[2] /= length;
        }
    }
}

static unsigned char* read_png(const char* path, int* width, int* height) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) fail("cannot read the picture");
    image.format = PNG_FORMAT_RGB;
    unsigned char* pixels = malloc(PNG_IMAGE_SIZE(image));
    /* A negative row stride stores the rows bottom-up, as OpenGL wants them. */
    if (!pixels || !png_image_finish_read(&image, NULL, pixels, -(png_int_32)PNG_IMAGE_ROW_STRIDE(image), NULL))
        fail("cannot decode the picture");
    *width = (int)image.width;
    *height = (int)image.height;
    return pixels;
}

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 5 && !strcmp(argv[3], "--frames"))) {
        fprintf(stderr, "usage: floor_viewer FILE.ply PICTURE.png [--frames N]\n");
        return 64;
    }
    int frames = argc == 5 ? atoi(argv[4]) : 0;
    double start = now();

    Display* display = XOpenDisplay(NULL);
    if (!display) fail("no display");
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_DEPTH_SIZE, 24, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, None};
    XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
    if (!visual) fail("no visual");
    Window root = RootWindow(display, visual->screen);
    XSetWindowAttributes set;
    set.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
    set.event_mask = ExposureMask | StructureNotifyMask;
    const int width = 800, height = 600;
    Window window = XCreateWindow(display, root, 0, 0, width, height, 0, visual->depth, InputOutput,
                                  visual->visual, CWColormap | CWEventMask, &set);
    XMapWindow(display, window);
    GLXContext context = glXCreateContext(display, visual, NULL, True);
    glXMakeCurrent(display, window, context);

    Mesh mesh;
    memset(&mesh, 0, sizeof mesh);
    read_ply(argv[1], &mesh);
    compute_normals(&mesh);
    int picture_width, picture_height;
    unsigned char* pixels = read_png(argv[2], &picture_width, &picture_height);

    GLuint texture;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, picture_width, picture_height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    free(pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_TEXTURE_2D);

    /* The camera frames the bounding box. */
    float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (size_t i = 0; i < mesh.vertices; ++i)
        for (int k = 0; k < 3; ++k) {
            float value = mesh.position[3 * i + k];
            if (value < low[k]) low[k] = value;
            if (value > high[k]) high[k] = value;
        }
    float centre[3], radius = 0;
    for (int k = 0; k < 3; ++k) {
        centre[k] = (low[k] + high[k]) / 2;
        radius += (high[k] - low[k]) * (high[k] - low[k]) / 4;
    }
    radius = radius > 0 ? sqrtf(radius) : 1;

    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, (double)width / height, radius, radius * 5);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    GLfloat light[4] = {0, 0, 1, 0};
    glLightfv(GL_LIGHT0, GL_POSITION, light);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_NORMALIZE);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, mesh.position);
    glNormalPointer(GL_FLOAT, 0, mesh.normal);
    glTexCoordPointer(2, GL_FLOAT, 0, mesh.uv);

    for (int frame = 0; frame <= frames; ++frame) {
        if (frame == 1) start = now();
        glClearColor(0.2f, 0.2f, 0.3f, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        glTranslatef(0, 0, -3 * radius);
        glRotatef((float)frame, 0, 1, 0);
        glTranslatef(-centre[0], -centre[1], -centre[2]);
        glDrawElements(GL_TRIANGLES, (GLsizei)(mesh.triangles * 3), GL_UNSIGNED_INT, mesh.index);
        glXSwapBuffers(display, window);
        glFinish();
        if (frame == 0) printf("first frame: %.3f s\n", now() - start);
    }
    if (frames > 0) printf("frame: %.4f s\n", (now() - start) / frames);
    fflush(stdout);

    glXMakeCurrent(display, None, NULL);
    glXDestroyContext(display, context);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    free(mesh.position);
    free(mesh.uv);
    free(mesh.normal);
    free(mesh.index);
    return 0;
}

#include "app/video_widgets.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QPainter>

namespace kestrel::app {
namespace {

QRect TargetIn(const QWidget& widget, const VideoPicture& picture) {
    return picture.target.isNull() ? widget.rect() : picture.target;
}

QColor FillColour(const VideoPicture& picture) { return QColor::fromRgb(picture.fill ? picture.fillRgb : 0); }

class VideoPlainWidget final : public QWidget {
public:
    explicit VideoPlainWidget(QWidget* parent) : QWidget(parent), window_(new VideoWindow(this)) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    VideoWindow* videoWindow() const { return window_; }

protected:
    void paintEvent(QPaintEvent*) override {
        if (window_->TakeLatest(shown_)) PictureToImage(shown_, image_);
        QPainter painter(this);
        painter.fillRect(rect(), FillColour(shown_));
        if (shown_.fill || image_.isNull()) return;
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(TargetIn(*this, shown_), image_);
    }

private:
    VideoWindow* window_;
    VideoPicture shown_;
    QImage image_;
};

constexpr const char* kVertexShader = R"(
attribute highp vec2 a_position;
attribute highp vec2 a_texCoord;
varying highp vec2 v_texCoord;
void main() {
    gl_Position = vec4(a_position, 0.0, 1.0);
    v_texCoord = a_texCoord;
}
)";

// YUY2 arrives as two views of the same bytes: a full-width two-channel texture whose first
// channel is Y, and a half-width four-channel one holding Y0 U Y1 V, whose second and fourth
// channels are the pixel pair's U and V. Linear filtering of both scales the picture.
// ITU-R BT.601, video range: the coefficients of the engine's own converter.
constexpr const char* kFragmentShader = R"(
#ifdef GL_ES
precision mediump float;
#endif
varying highp vec2 v_texCoord;
uniform sampler2D u_luma;
uniform sampler2D u_chroma;
void main() {
    float y = texture2D(u_luma, v_texCoord).r * 255.0 - 16.0;
    vec4 c = texture2D(u_chroma, v_texCoord);
    float u = c.g * 255.0 - 128.0;
    float v = c.a * 255.0 - 128.0;
    vec3 rgb = vec3(1.163940 * y + 1.595947 * v,
                    1.163940 * y - 0.390991 * u - 0.812988 * v,
                    1.163940 * y + 2.017944 * u) / 255.0;
    gl_FragColor = vec4(clamp(rgb, 0.0, 1.0), 1.0);
}
)";

class VideoGlWidget final : public QOpenGLWidget, protected QOpenGLFunctions {
public:
    VideoGlWidget(QWidget* parent, std::shared_ptr<DisplayLink> link)
        : QOpenGLWidget(parent), window_(new VideoWindow(this)), link_(std::move(link)) {}
    ~VideoGlWidget() override {
        disconnect(contextGone_);
        makeCurrent();
        ReleaseGl();
        doneCurrent();
    }
    VideoWindow* videoWindow() const { return window_; }

protected:
    void initializeGL() override {
        initializeOpenGLFunctions();
        program_ = std::make_unique<QOpenGLShaderProgram>();
        ready_ = program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) &&
                 program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) &&
                 program_->link();
        if (!ready_) qWarning("kestrel: the video shader did not build: %s", qPrintable(program_->log()));
        glGenTextures(2, textures_);
        for (GLuint t : textures_) {
            glBindTexture(GL_TEXTURE_2D, t);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
        uploaded_ = false;
        QOpenGLContext* gl = context();
        disconnect(contextGone_);
        contextGone_ = connect(gl, &QOpenGLContext::aboutToBeDestroyed, this, [this] {
            link_->LoseSurfaces();
            makeCurrent();
            ReleaseGl();
            doneCurrent();
        });
        link_->SetAvailable();
    }

    void paintGL() override {
        if (window_->TakeLatest(shown_)) uploaded_ = false;
        const QColor fill = FillColour(shown_);
        glDisable(GL_SCISSOR_TEST);
        glClearColor(fill.redF(), fill.greenF(), fill.blueF(), 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        if (shown_.fill) return;
        if (shown_.format == platform::PixelFormat::YUY2) {
            DrawYuy2();
        } else {
            if (!uploaded_) PictureToImage(shown_, image_);
            uploaded_ = true;
            if (image_.isNull()) return;
            QPainter painter(this);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(TargetIn(*this, shown_), image_);
        }
    }

private:
    void DrawYuy2() {
        if (!ready_ || shown_.width < 2 || shown_.height == 0) return;
        const auto w = static_cast<GLsizei>(shown_.width), h = static_cast<GLsizei>(shown_.height);
        glActiveTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_2D, textures_[1]);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, textures_[0]);
        if (!uploaded_) {
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE_ALPHA, w, h, 0, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE,
                         shown_.bytes.data());
            glActiveTexture(GL_TEXTURE1);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w / 2, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, shown_.bytes.data());
            glActiveTexture(GL_TEXTURE0);
            uploaded_ = true;
        }
        // The target rectangle in normalised device coordinates (y up).
        const QRect t = TargetIn(*this, shown_);
        const float sw = float(width()), sh = float(height());
        const float x0 = 2.0f * t.left() / sw - 1.0f, x1 = 2.0f * (t.left() + t.width()) / sw - 1.0f;
        const float y0 = 1.0f - 2.0f * (t.top() + t.height()) / sh, y1 = 1.0f - 2.0f * t.top() / sh;
        const GLfloat positions[] = {x0, y0, x1, y0, x0, y1, x1, y1};
        const GLfloat texCoords[] = {0, 1, 1, 1, 0, 0, 1, 0};

        const qreal ratio = devicePixelRatioF();
        glViewport(0, 0, GLsizei(width() * ratio), GLsizei(height() * ratio));
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        program_->bind();
        program_->setUniformValue("u_luma", 0);
        program_->setUniformValue("u_chroma", 1);
        const int pos = program_->attributeLocation("a_position"), tex = program_->attributeLocation("a_texCoord");
        program_->enableAttributeArray(pos);
        program_->enableAttributeArray(tex);
        program_->setAttributeArray(pos, GL_FLOAT, positions, 2);
        program_->setAttributeArray(tex, GL_FLOAT, texCoords, 2);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        program_->disableAttributeArray(pos);
        program_->disableAttributeArray(tex);
        program_->release();
    }

    void ReleaseGl() {
        if (program_ == nullptr || context() == nullptr) return;
        glDeleteTextures(2, textures_);
        program_.reset();
        ready_ = false;
    }

    VideoWindow* window_;
    std::shared_ptr<DisplayLink> link_;
    std::unique_ptr<QOpenGLShaderProgram> program_;
    GLuint textures_[2] = {0, 0};
    bool ready_ = false;
    bool uploaded_ = false;
    QMetaObject::Connection contextGone_;
    VideoPicture shown_;
    QImage image_;
};

}  // namespace

VideoKind ChooseVideoKind() {
    // QOpenGLWidget cannot work (and crashes) where the platform has no OpenGL of its own.
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal" || platform == "vnc" || platform == "linuxfb")
        return VideoKind::Plain;
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext gl;
    if (!gl.create() || !gl.makeCurrent(&surface)) return VideoKind::Plain;
    gl.doneCurrent();
    return VideoKind::OpenGL;
}

VideoArea CreateVideoArea(VideoKind kind, std::shared_ptr<DisplayLink> link, QWidget* parent) {
    VideoArea area;
    if (kind == VideoKind::OpenGL) {
        auto* w = new VideoGlWidget(parent, std::move(link));
        area = {w, w->videoWindow()};
    } else {
        auto* w = new VideoPlainWidget(parent);
        area = {w, w->videoWindow()};
    }
    // Clicks on the picture belong to the dialog (double-click and right-click toggle full screen).
    area.widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    return area;
}

}  // namespace kestrel::app

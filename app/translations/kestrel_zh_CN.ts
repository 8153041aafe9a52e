<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>kestrel::app::MainDialog</name>
    <message>
        <source>DVR H264/MPEG4 File Player</source>
        <translation>DVR H264/MPEG4 文件播放器</translation>
    </message>
    <message>
        <source>File(&amp;F)</source>
        <translation>文件(&amp;F)</translation>
    </message>
    <message>
        <source>Open(&amp;O)  	Ctrl+O</source>
        <translation>打开(&amp;O)  	Ctrl+O</translation>
    </message>
    <message>
        <source>Close(&amp;C)  	Ctrl+C</source>
        <translation>关闭(&amp;C)  	Ctrl+C</translation>
    </message>
    <message>
        <source>Exit(&amp;X)</source>
        <translation>退出(&amp;X)</translation>
    </message>
    <message>
        <source>View(&amp;V)</source>
        <translation>查看(&amp;V)</translation>
    </message>
    <message>
        <source>Full Screen</source>
        <translation>全屏</translation>
    </message>
    <message>
        <source>Help(&amp;H)</source>
        <translation>帮助(&amp;H)</translation>
    </message>
    <message>
        <source>About Kestrel(&amp;A)...</source>
        <translation>关于 Kestrel(&amp;A)...</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>播放</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>暂停</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Go Head</source>
        <translation>跳到开头</translation>
    </message>
    <message>
        <source>Slow</source>
        <translation>慢放</translation>
    </message>
    <message>
        <source>Fast</source>
        <translation>快放</translation>
    </message>
    <message>
        <source>Go End</source>
        <translation>跳到结尾</translation>
    </message>
    <message>
        <source>Previous Frame</source>
        <translation>上一帧</translation>
    </message>
    <message>
        <source>Next Frame</source>
        <translation>下一帧</translation>
    </message>
    <message>
        <source>Snap Picture</source>
        <translation>抓图</translation>
    </message>
    <message>
        <source>Sound</source>
        <translation>声音</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>音量</translation>
    </message>
</context>
</TS>

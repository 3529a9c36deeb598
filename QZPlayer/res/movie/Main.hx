// The shell movie: plays one FLV or MP4 source with NetStream and answers
// the player's requests through ExternalInterface. The player reads every
// answer as a number; the state is 0 stopped (also: ended, not found),
// 1 playing, 2 paused.
//
// Frames. The host counts FrameNum from 0 and sends no request before it
// reads 1 or more, so a one-frame movie would never be asked
// anything. The build appends a second, empty frame to what Haxe makes
// (res/movie/two_frames.py): frame 0 holds all the code, so the callbacks
// below exist before the movie reaches frame index 1; on its last frame the
// movie stops itself (and the host sets Loop false), so it stays there and
// frame 0's code never runs twice.
//
// Security sandbox. The movie is loaded from a local file (the program's
// folder), so Flash Player puts it in a local sandbox chosen by the
// FileAttributes tag: without UseNetwork it is local-with-file-system, which
// refuses every network load; with UseNetwork it is local-with-networking,
// which refuses local files. No movie can ask for both: only local-trusted
// allows both, and that is granted from outside the movie (a FlashPlayerTrust
// file naming the program folder, written by an installer or the user).
// So the build makes two movies from this source: QZFPlayer.swf with
// -D network-sandbox (local-with-networking) for URLs, the client's streams;
// QZFPlayerLocal.swf without it (local-with-file-system) for local and UNC
// paths from the open dialogs, a drop or the command line. The player picks
// the build by the source (no "://": a file), and the structural test checks
// each build's flag. A source the sandbox still refuses (a local movie asked
// for a URL) is turned into the stopped state by start(), so the player
// moves on instead of waiting.
import flash.Lib;
import flash.display.StageAlign;
import flash.display.StageDisplayState;
import flash.display.StageScaleMode;
import flash.errors.SecurityError;
import flash.events.AsyncErrorEvent;
import flash.events.Event;
import flash.events.IOErrorEvent;
import flash.events.KeyboardEvent;
import flash.events.NetStatusEvent;
import flash.events.SecurityErrorEvent;
import flash.events.TimerEvent;
import flash.external.ExternalInterface;
import flash.media.SoundTransform;
import flash.media.Video;
import flash.net.NetConnection;
import flash.net.NetStream;
import flash.ui.Keyboard;
import flash.utils.Timer;

class Main {
    static inline var STOPPED = 0;
    static inline var PLAYING = 1;
    static inline var PAUSED = 2;
    // A stream that neither loads nor plays for this long while it should
    // play is given up: a missing file or one the runtime cannot decode may
    // never report an error, and the player waits for the stop to move on.
    static inline var STALL_MS = 8000;

    var file:String;
    var overstretch:Bool;
    var showdigits:Bool;
    var autostart:Bool;
    var showplayerbar:Bool;
    var callback:Bool;
    var enablejs:Bool;
    var streamscript:String;

    var state:Int = STOPPED;
    var duration:Float = 0;
    var volume:Float = 1;
    var connection:NetConnection;
    var stream:NetStream;
    var video:Video;
    var lastTime:Float = -1;
    var lastBytes:Int = -1;
    var lastProgress:Int = 0;

    static function main() {
        new Main();
    }

    function new() {
        var stage = Lib.current.stage;
        stage.scaleMode = StageScaleMode.NO_SCALE;
        stage.align = StageAlign.TOP_LEFT;

        var p:Dynamic = Lib.current.loaderInfo.parameters;
        file = param(p, "file", "");
        overstretch = param(p, "overstretch", "false") == "true";
        showdigits = param(p, "showdigits", "false") == "true";
        autostart = param(p, "autostart", "false") == "true";
        showplayerbar = param(p, "showplayerbar", "false") == "true";
        callback = param(p, "callback", "false") == "true";
        enablejs = param(p, "enablejs", "false") == "true";
        streamscript = param(p, "streamscript", "");

        video = new Video();
        video.smoothing = true;
        Lib.current.addChild(video);
        layout();
        stage.addEventListener(Event.RESIZE, function(_) layout());
        stage.addEventListener(KeyboardEvent.KEY_DOWN, onKey);

        connection = new NetConnection();
        connection.connect(null);
        stream = new NetStream(connection);
        stream.client = {onMetaData: onMetaData};
        stream.addEventListener(NetStatusEvent.NET_STATUS, onStatus);
        // A refused or broken load that reports itself as an error event
        // instead of a status: the item will not play.
        stream.addEventListener(SecurityErrorEvent.SECURITY_ERROR, function(_) giveUp());
        stream.addEventListener(IOErrorEvent.IO_ERROR, function(_) giveUp());
        stream.addEventListener(AsyncErrorEvent.ASYNC_ERROR, function(_) {});
        connection.addEventListener(SecurityErrorEvent.SECURITY_ERROR, function(_) giveUp());
        video.attachNetStream(stream);

        if (enablejs && ExternalInterface.available) {
            ExternalInterface.addCallback("getPlayState", getPlayState);
            ExternalInterface.addCallback("getDuration", getDuration);
            ExternalInterface.addCallback("getPosition", getPosition);
            ExternalInterface.addCallback("sendEvent", sendEvent);
            // Not one of the player's requests: which frame the movie shows
            // (1-based, as ActionScript counts), for the runtime test.
            ExternalInterface.addCallback("getFrame", getFrame);
        }
        // Stay on the last frame whatever the host's Loop says.
        var root = Lib.current;
        if (root.totalFrames > 1)
            root.addEventListener(Event.ENTER_FRAME, onFrame);
        var watch = new Timer(500);
        watch.addEventListener(TimerEvent.TIMER, function(_) watchProgress());
        watch.start();
        if (autostart)
            start();
    }

    function watchProgress() {
        var now = Lib.getTimer();
        if (state != PLAYING) {
            lastProgress = now;
            return;
        }
        var t = stream.time, b:Int = cast stream.bytesLoaded;
        if (t != lastTime || b != lastBytes) {
            lastTime = t;
            lastBytes = b;
            lastProgress = now;
        } else if (now - lastProgress >= STALL_MS) {
            stream.close();
            state = STOPPED;
        }
    }

    function onFrame(_) {
        var root = Lib.current;
        if (root.currentFrame >= root.totalFrames) {
            root.stop();
            root.removeEventListener(Event.ENTER_FRAME, onFrame);
        }
    }

    function getFrame():Int {
        return Lib.current.currentFrame;
    }

    function giveUp() {
        stream.close();
        state = STOPPED;
    }

    static function param(p:Dynamic, name:String, def:String):String {
        var v:Dynamic = Reflect.field(p, name);
        return v == null ? def : Std.string(v);
    }

    function start() {
        if (file == "") {
            state = STOPPED;
            return;
        }
        // Set before play(): some runtimes report the start inside it.
        state = PLAYING;
        lastProgress = Lib.getTimer();
        try {
            stream.play(file);
        } catch (e:SecurityError) {
            // Refused by the sandbox (see the top of this file).
            state = STOPPED;
            return;
        }
        stream.soundTransform = new SoundTransform(volume);
    }

    function onMetaData(info:Dynamic) {
        if (info != null && info.duration != null)
            duration = info.duration;
        layout();
    }

    function onStatus(e:NetStatusEvent) {
        var code:String = e.info.code;
        switch (code) {
            case "NetStream.Play.Stop", "NetStream.Play.StreamNotFound", "NetStream.Play.Failed",
                "NetStream.Failed", "NetStream.Play.FileStructureInvalid", "NetStream.Play.NoSupportedTrackFound":
                // The end of the item, or one that will never play: the
                // player moves on when it sees the stop.
                state = STOPPED;
            default:
        }
    }

    function getPlayState():Int {
        return state;
    }

    function getDuration():Int {
        return Std.int(duration);
    }

    function getPosition():Int {
        return state == STOPPED ? 0 : Std.int(stream.time);
    }

    function sendEvent(type:String, ?value:Dynamic):Void {
        switch (type) {
            case "playpause":
                if (state == PLAYING) {
                    stream.pause();
                    state = PAUSED;
                } else if (state == PAUSED) {
                    stream.resume();
                    state = PLAYING;
                } else {
                    start();
                }
            case "stop":
                stream.close();
                state = STOPPED;
            case "position":
                var to:Float = value == null ? 0 : Std.parseFloat(Std.string(value));
                if (!Math.isNaN(to) && state != STOPPED)
                    stream.seek(to < 0 ? 0 : to);
            case "volume":
                var v:Float = value == null ? 100 : Std.parseFloat(Std.string(value));
                if (!Math.isNaN(v)) {
                    volume = Math.max(0, Math.min(100, v)) / 100;
                    stream.soundTransform = new SoundTransform(volume);
                }
            default:
        }
    }

    function onKey(e:KeyboardEvent) {
        if (e.keyCode != Keyboard.HOME)
            return;
        var stage = Lib.current.stage;
        try {
            stage.displayState = stage.displayState == StageDisplayState.NORMAL ? StageDisplayState.FULL_SCREEN : StageDisplayState.NORMAL;
        } catch (err:Dynamic) {
            // Full screen refused by the runtime: stay as we are.
        }
    }

    // The video fills the stage when overstretched, else keeps its aspect.
    function layout() {
        var stage = Lib.current.stage;
        var w:Float = stage.stageWidth, h:Float = stage.stageHeight;
        if (w <= 0 || h <= 0)
            return;
        var vw:Float = video.videoWidth, vh:Float = video.videoHeight;
        if (overstretch || vw <= 0 || vh <= 0) {
            video.x = 0;
            video.y = 0;
            video.width = w;
            video.height = h;
            return;
        }
        var scale = Math.min(w / vw, h / vh);
        video.width = vw * scale;
        video.height = vh * scale;
        video.x = (w - video.width) / 2;
        video.y = (h - video.height) / 2;
    }
}
